// Every reason the simulated platform gives for refusing a player's action
// or a call, in one place: the plug-in passes these texts on to its client
// word for word, so tests compare them exactly.
#pragma once

namespace TovSim::Refusal {

// Who may act, and when.
inline constexpr const char* kNotInGame = "Not in a game";
inline constexpr const char* kNotInChampSelect = "Not in champion select";
inline constexpr const char* kNotInBanPhase = "Not in the ban phase";
inline constexpr const char* kNotInPickPhase = "Not in the pick phase";
inline constexpr const char* kNotYourBanTurn = "Not your turn to ban";
inline constexpr const char* kNotYourPickTurn = "Not your turn to pick";
inline constexpr const char* kAlreadyLockedIn = "Champion already locked in";

// Champions.
inline constexpr const char* kNoSuchChampion = "No such champion";
inline constexpr const char* kNotInQueue = "Champion not available in this queue";
inline constexpr const char* kNotOwned = "Champion not owned";
inline constexpr const char* kBanned = "Champion banned";
inline constexpr const char* kAlreadyBanned = "Champion already banned";
inline constexpr const char* kTaken = "Champion already taken";
inline constexpr const char* kNoChampion = "No champion selected";

// Spells and skins.
inline constexpr const char* kInvalidSpell = "Invalid spell";
inline constexpr const char* kSameSpells = "Spells must be different";
inline constexpr const char* kOtherChampion = "Champion not selected";
inline constexpr const char* kNoSuchSkin = "Skin does not belong to the champion";
inline constexpr const char* kSkinNotOwned = "Skin not owned";

// Rerolls.
inline constexpr const char* kNoRerolls = "Rerolls are not available in this queue";
inline constexpr const char* kNotEnoughPoints = "Not enough points to reroll";
inline constexpr const char* kNothingToRoll = "No champion left to roll";

// Trades, while finalizing.
inline constexpr const char* kNotFinalizing = "Not in finalization";
inline constexpr const char* kNoTrades = "Trades are not allowed in this queue";
inline constexpr const char* kNotATeamMate = "Summoner is not on your team";
inline constexpr const char* kNotTheirChampion = "Champion is not the one the summoner holds";
inline constexpr const char* kCannotTrade = "These champions cannot be traded";
inline constexpr const char* kAlreadyTrading = "A trade is already in progress";
inline constexpr const char* kNoOffer = "No trade offer from this summoner";
inline constexpr const char* kNothingPending = "No pending trade";

// The team boost.
inline constexpr const char* kNoBoost = "Team boost is not available in this queue";
inline constexpr const char* kUnknownCurrency = "Unknown currency";
inline constexpr const char* kInsufficientFunds = "Insufficient funds to unlock the team boost";
inline constexpr const char* kBoostUnlocked = "Team boost already unlocked";

// Calls.
inline constexpr const char* kInvalidArguments = "Invalid arguments";
inline constexpr const char* kUnknownCall = "Unknown service call";
inline constexpr const char* kGameNotFound = "Game not found";
inline constexpr const char* kNoGameInProgress = "No game in progress";

}  // namespace TovSim::Refusal
