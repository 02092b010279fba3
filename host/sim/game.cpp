#include "sim/game.h"

#include <algorithm>

#include "sim/content.h"
#include "sim/refusals.h"
#include "sim/turn_order.h"

namespace TovSim {
namespace {

int TeamId(int team) { return team == 1 ? 100 : 200; }

bool Contains(const std::vector<int>& ids, int64_t id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

}  // namespace

const char* StateName(GameState state) {
  switch (state) {
    case GameState::TeamSelect:
      return "TEAM_SELECT";
    case GameState::PreChampSelect:
      return "PRE_CHAMP_SELECT";
    case GameState::ChampSelect:
      return "CHAMP_SELECT";
    case GameState::PostChampSelect:
      return "POST_CHAMP_SELECT";
    case GameState::StartRequested:
      return "START_REQUESTED";
    case GameState::Terminated:
      return "TERMINATED";
  }
  return "";
}

Game::Game(uint64_t id, QueueRules rules, const Roster& roster) : id_(id), rules_(std::move(rules)) {
  const auto seat = [&](const Player& player, int team, int index) {
    Seat s;
    s.player = player;
    s.team = team;
    s.index = index;
    // Two distinct spells each, as chosen in the player's last game.
    const int n = static_cast<int>(seats_.size());
    s.selection.spell1 = kFirstSpell + (2 * n) % 10;
    s.selection.spell2 = kFirstSpell + (2 * n + 1) % 10;
    seats_.push_back(s);
  };
  for (size_t i = 0; i < roster.teamOne.size(); ++i) seat(roster.teamOne[i], 1, static_cast<int>(i));
  for (size_t i = 0; i < roster.teamTwo.size(); ++i) seat(roster.teamTwo[i], 2, static_cast<int>(i));
  name_ = "match-" + std::to_string(id);
  if (rules_.custom) {
    roomName_ = "custom-" + std::to_string(id);
    roomPassword_ = "pw" + std::to_string(id % 10000);
  }
}

int Game::SeatOf(uint64_t summonerId) const {
  if (summonerId == 0) return -1;
  for (size_t i = 0; i < seats_.size(); ++i)
    if (seats_[i].player.summonerId == summonerId) return static_cast<int>(i);
  return -1;
}

int Game::SeatAt(int team, int index) const {
  for (const Seat& s : seats_)
    if (s.team == team && s.index == index) return static_cast<int>(&s - seats_.data());
  return -1;
}

std::vector<int> Game::Actors() const {
  std::vector<int> actors;
  if (state_ == GameState::PreChampSelect && pickTurn_ <= rules_.bans) {
    const BannerSlot slot = BannerOfTurn(pickTurn_);
    if (const int seat = SeatAt(slot.team, slot.index); seat >= 0) actors.push_back(seat);
  } else if (state_ == GameState::ChampSelect) {
    for (const Seat& s : seats_)
      if (s.present && !s.player.IsBot() && s.pickTurn == pickTurn_) actors.push_back(static_cast<int>(&s - seats_.data()));
  }
  return actors;
}

int Game::TurnsInPhase() const {
  if (state_ == GameState::PreChampSelect) return rules_.bans;
  if (state_ == GameState::ChampSelect) return rules_.order == PickOrder::Draft ? kDraftPickTurns : 1;
  return 0;
}

bool Game::Banned(int64_t championId) const {
  return std::any_of(bans_.begin(), bans_.end(), [&](const Ban& b) { return b.championId == championId; });
}

bool Game::TakenBy(int64_t championId, int exceptSeat) const {
  // In a blind pick each team picks on its own, so only the own team counts.
  const int team = At(exceptSeat).team;
  for (const Seat& s : seats_) {
    if (&s == &At(exceptSeat) || s.selection.championId != championId) continue;
    if (rules_.order == PickOrder::Blind && s.team != team) continue;
    return true;
  }
  return false;
}

bool Game::InPool(int64_t championId) const {
  return rules_.battleTraining ? Contains(BattleTrainingChampions(), championId) : IsChampion(championId);
}

bool Game::MayPlay(int seat, int64_t championId) const {
  if (!InPool(championId)) return false;
  // Only the local player's collection is known here; the others play what
  // they like.
  return rules_.battleTraining || !At(seat).player.IsLocal() || LocalMayPlay(championId, rules_.freeChampions);
}

bool Game::InSelection() const {
  return state_ == GameState::PreChampSelect || state_ == GameState::ChampSelect ||
         state_ == GameState::PostChampSelect;
}

void Game::PresetChampion(int seat, int championId) {
  if (ValidSeat(seat) && lock_ == 0) Mutable(seat).selection.championId = championId;
}

void Game::Changed(const std::string& what) {
  ++lock_;
  if (onChange) onChange(*this, what);
}

void Game::EnterTeamSelect() {
  state_ = GameState::TeamSelect;
  Changed("lobby open");
}

void Game::BeginBans() {
  state_ = GameState::PreChampSelect;
  pickTurn_ = 1;
  for (Seat& s : seats_) s.pickTurn = 0, s.pickMode = 0;
  // A banner's turn shows from the moment it begins, and stays for the phase.
  for (int seat : Actors()) Mutable(seat).pickTurn = pickTurn_;
  Changed("ban phase, turn 1");
}

void Game::BeginPicks() {
  state_ = GameState::ChampSelect;
  pickTurn_ = 1;
  for (Seat& s : seats_) {
    s.pickTurn = s.player.IsBot() || rules_.order == PickOrder::Blind ? 1 : SnakePickTurn(s.team, s.index);
    // An AI bot's champion, and a champion handed out at random, come
    // already locked in.
    const bool handed = s.player.IsBot() || (rules_.randomChampions && s.selection.championId != 0);
    s.pickMode = handed ? 2 : s.pickTurn == pickTurn_ ? 1 : 0;
  }
  if (rules_.randomChampions) {
    // Nobody has anything left to pick: the phase is over at once.
    pickTurn_ = TurnsInPhase() + 1;
    Changed("pick phase: champions handed out");
    return;
  }
  Changed("pick phase, turn 1");
}

void Game::BeginPost() {
  state_ = GameState::PostChampSelect;
  Changed("finalization");
}

void Game::RequestStart(int64_t spectatorDelay) {
  state_ = GameState::StartRequested;
  spectatorDelay_ = spectatorDelay;
  Changed("start requested");
}

void Game::NextTurn() {
  ++pickTurn_;
  if (state_ == GameState::PreChampSelect) {
    for (int seat : Actors()) Mutable(seat).pickTurn = pickTurn_;
  } else {
    for (int seat : Actors()) Mutable(seat).pickMode = 1;
  }
}

std::string Game::BanChampion(int seat, int64_t championId) {
  if (state_ != GameState::PreChampSelect || !ValidSeat(seat)) return Refusal::kNotInBanPhase;
  const std::vector<int> actors = Actors();
  if (std::find(actors.begin(), actors.end(), seat) == actors.end()) return Refusal::kNotYourBanTurn;
  if (!IsChampion(championId)) return Refusal::kNoSuchChampion;
  if (Banned(championId)) return Refusal::kAlreadyBanned;
  const int turn = pickTurn_;
  bans_.push_back(Ban{static_cast<int>(championId), TeamId(At(seat).team), turn});
  NextTurn();
  Changed(Named(seat) + " bans " + std::to_string(championId) + " (turn " + std::to_string(turn) + ")");
  return "";
}

std::string Game::PickRefusal(int seat) const {
  if (state_ != GameState::ChampSelect || !ValidSeat(seat)) return Refusal::kNotInPickPhase;
  const Seat& s = At(seat);
  if (!s.present) return Refusal::kNotInGame;
  if (s.pickMode == 2) return Refusal::kAlreadyLockedIn;
  if (s.pickMode != 1) return Refusal::kNotYourPickTurn;
  return "";
}

std::string Game::Hover(int seat, int64_t championId) {
  if (std::string refused = PickRefusal(seat); !refused.empty()) return refused;
  if (!InPool(championId)) return IsChampion(championId) ? Refusal::kNotInQueue : Refusal::kNoSuchChampion;
  if (!MayPlay(seat, championId)) return Refusal::kNotOwned;
  if (Banned(championId)) return Refusal::kBanned;
  if (TakenBy(championId, seat)) return Refusal::kTaken;
  if (At(seat).selection.championId == championId) return "";
  Mutable(seat).selection.championId = static_cast<int>(championId);
  Changed(Named(seat) + " hovers " + std::to_string(championId));
  return "";
}

std::string Game::LockIn(int seat) {
  if (std::string refused = PickRefusal(seat); !refused.empty()) return refused;
  const Seat& s = At(seat);
  if (s.selection.championId == 0) return Refusal::kNoChampion;
  Mutable(seat).pickMode = 2;
  std::string what = Named(seat) + " locks in " + std::to_string(s.selection.championId);
  if (rules_.battleTraining) {
    state_ = GameState::StartRequested;
    Changed(what + "; the training starts");
    return "";
  }
  const std::vector<int> actors = Actors();
  if (std::all_of(actors.begin(), actors.end(), [&](int a) { return At(a).pickMode == 2; })) {
    NextTurn();
    what += pickTurn_ <= TurnsInPhase() ? ", turn " + std::to_string(pickTurn_) : ", all picked";
  }
  Changed(what);
  return "";
}

std::string Game::ChangeSpells(int seat, int64_t spell1, int64_t spell2) {
  if (!InSelection() || !ValidSeat(seat) || !At(seat).present) return Refusal::kNotInChampSelect;
  if (!IsSpell(spell1) || !IsSpell(spell2)) return Refusal::kInvalidSpell;
  if (spell1 == spell2) return Refusal::kSameSpells;
  Selection& sel = Mutable(seat).selection;
  if (sel.spell1 == spell1 && sel.spell2 == spell2) return "";
  sel.spell1 = static_cast<int>(spell1);
  sel.spell2 = static_cast<int>(spell2);
  Changed(Named(seat) + " takes spells " + std::to_string(spell1) + " and " + std::to_string(spell2));
  return "";
}

std::string Game::ChangeSkin(int seat, int64_t championId, int64_t skinId) {
  if ((state_ != GameState::ChampSelect && state_ != GameState::PostChampSelect) || !ValidSeat(seat) ||
      !At(seat).present)
    return Refusal::kNotInChampSelect;
  Selection& sel = Mutable(seat).selection;
  if (sel.championId == 0) return Refusal::kNoChampion;
  if (championId != sel.championId) return Refusal::kOtherChampion;
  const int64_t index = skinId - int64_t{SkinId(sel.championId, 0)};
  if (index < 0 || index > kLastSkinIndex) return Refusal::kNoSuchSkin;
  if (At(seat).player.IsLocal() && index > kLastOwnedSkinIndex && !Unlocked(At(seat).team, skinId))
    return Refusal::kSkinNotOwned;
  if (sel.skinIndex == index) return "";
  sel.skinIndex = static_cast<int>(index);
  Changed(Named(seat) + " takes skin " + std::to_string(skinId));
  return "";
}

bool Game::MayTrade(int seat, int other) const {
  if (state_ != GameState::PostChampSelect || !ValidSeat(seat) || !ValidSeat(other) || seat == other) return false;
  const Seat& a = At(seat);
  const Seat& b = At(other);
  if (a.team != b.team || !a.present || !b.present || a.player.IsBot() || b.player.IsBot()) return false;
  const int mine = a.selection.championId;
  const int theirs = b.selection.championId;
  return mine != 0 && theirs != 0 && mine != theirs && MayPlay(seat, theirs) && MayPlay(other, mine);
}

std::string Game::SwapChampions(int seat, int other) {
  if (state_ != GameState::PostChampSelect) return Refusal::kNotFinalizing;
  if (!MayTrade(seat, other)) return Refusal::kCannotTrade;
  Selection& a = Mutable(seat).selection;
  Selection& b = Mutable(other).selection;
  std::swap(a.championId, b.championId);
  a.skinIndex = b.skinIndex = 0;
  Changed(Named(seat) + " and " + Named(other) + " trade: " + Named(seat) + " takes " + std::to_string(a.championId) +
          ", " + Named(other) + " takes " + std::to_string(b.championId));
  return "";
}

void Game::UnlockSkins(int team, const std::vector<int>& skinIds) {
  if (team == 1 || team == 2) unlockedSkins_[team - 1] = skinIds;
}

bool Game::Unlocked(int team, int64_t skinId) const {
  return (team == 1 || team == 2) && Contains(unlockedSkins_[team - 1], skinId);
}

std::string Game::Quit(int seat) {
  // Leaving twice is what a client does when its own end and the platform's
  // cross: the second time there is nothing left to leave.
  if (state_ == GameState::Terminated && ValidSeat(seat) && !At(seat).present) return "";
  if (!InSelection() || !ValidSeat(seat) || !At(seat).present) return Refusal::kNotInChampSelect;
  Mutable(seat).present = false;
  Mutable(seat).pickMode = 0;
  if (rules_.custom) {
    state_ = GameState::TeamSelect;
    Changed(Named(seat) + " leaves; back to the lobby");
  } else {
    state_ = GameState::Terminated;
    Changed(Named(seat) + " " + (rules_.battleTraining ? "leaves the training" : "dodges"));
  }
  return "";
}

std::string Game::RerollRefusal(int seat) const {
  if (!rules_.rerolls) return Refusal::kNoRerolls;
  if ((state_ != GameState::ChampSelect && state_ != GameState::PostChampSelect) || !ValidSeat(seat) ||
      !At(seat).present)
    return Refusal::kNotInChampSelect;
  if (At(seat).selection.championId == 0) return Refusal::kNoChampion;
  return "";
}

std::vector<int> Game::ChampionsToHandOut(int seat) const {
  std::vector<int> candidates;
  for (int id = kFirstChampion; id <= kLastChampion; ++id) {
    const bool held = std::any_of(seats_.begin(), seats_.end(), [&](const Seat& s) { return s.selection.championId == id; });
    if (!held && !Banned(id) && MayPlay(seat, id)) candidates.push_back(id);
  }
  return candidates;
}

std::string Game::Reroll(int seat, int championId) {
  if (std::string refused = RerollRefusal(seat); !refused.empty()) return refused;
  Selection& sel = Mutable(seat).selection;
  sel.championId = championId;
  sel.skinIndex = 0;
  Changed(Named(seat) + " rerolls into " + std::to_string(championId));
  return "";
}

void Game::ExpireTurn() {
  if (state_ == GameState::PreChampSelect && pickTurn_ <= rules_.bans) {
    const int turn = pickTurn_;
    NextTurn();
    Changed("ban turn " + std::to_string(turn) + " expires without a ban");
    return;
  }
  if (state_ != GameState::ChampSelect) return;
  std::string what = "pick turn " + std::to_string(pickTurn_) + " expires";
  bool dodged = false;
  for (int seat : Actors()) {
    Seat& s = Mutable(seat);
    if (s.pickMode != 1) continue;
    if (s.selection.championId != 0) {
      s.pickMode = 2;
      what += "; " + s.player.name + " locked in " + std::to_string(s.selection.championId);
    } else {
      s.present = false;
      s.pickMode = 0;
      dodged = true;
      what += "; " + s.player.name + " picked nothing and dodges";
    }
  }
  if (dodged) {
    state_ = GameState::Terminated;
  } else {
    NextTurn();
  }
  Changed(what);
}

}  // namespace TovSim
