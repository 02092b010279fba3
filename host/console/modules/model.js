// What the page shows, derived from the published resources alone: nothing
// here remembers earlier events, so a resync from fresh "Create" events
// always lands on the same picture.

export function allActions(session) {
  return (session?.actions ?? []).flat();
}

// The running turn is the first group with an action still open; its open
// actions say who is acting now (one player in a draft, several at once in
// a blind pick).
export function currentTurn(session) {
  const groups = session?.actions ?? [];
  for (let i = 0; i < groups.length; i++) {
    const open = groups[i].filter((action) => !action.completed);
    if (open.length > 0) return { index: i, open };
  }
  return { index: -1, open: [] };
}

export function localOpenAction(session) {
  if (!session || session.isSpectating) return null;
  return currentTurn(session).open.find((action) => action.actorCellId === session.localPlayerCellId) ?? null;
}

export function players(session) {
  return [...(session?.myTeam ?? []), ...(session?.theirTeam ?? [])];
}

export function localPlayer(session) {
  return players(session).find((player) => player.cellId === session.localPlayerCellId) ?? null;
}

// A cell is locked once its pick is completed, hovered while its pick is open
// with a champion shown, empty otherwise. Games without pick actions (a
// random queue hands champions out) show a held champion as locked.
export function cellView(session, player) {
  const picks = allActions(session).filter((a) => a.type === "pick" && a.actorCellId === player.cellId);
  const pick = picks.find((a) => !a.completed) ?? picks[picks.length - 1];
  if (pick) {
    if (pick.completed) return { state: "locked", championId: player.championId || pick.championId };
    const shown = pick.championId || player.championId || player.championPickIntent;
    return { state: shown ? "hover" : "empty", championId: shown || 0 };
  }
  if (player.championId) return { state: "locked", championId: player.championId };
  if (player.championPickIntent) return { state: "hover", championId: player.championPickIntent };
  return { state: "empty", championId: 0 };
}

// The champion a player is about to ban, shown in their cell until the ban
// is completed and moves to the team's bans.
export function banningChampion(session, cellId) {
  const open = currentTurn(session).open.find((a) => a.type === "ban" && a.actorCellId === cellId);
  return open?.championId ?? 0;
}

export function phaseLabel(phase) {
  switch (phase) {
    case "PLANNING": return "Planning";
    case "BAN_PICK": return "Bans and picks";
    case "FINALIZATION": return "Finalization";
    case "GAME_STARTING": return "Game starting";
    case "": case undefined: case null: return "Waiting";
    default: return phase;
  }
}

// The page's clock and the plug-in's can disagree (a phone reading another
// machine); the smallest lag seen between a timer's publication and its
// arrival is the best guess at their offset. A late subscriber's snapshot
// may be old, so a clock within a minute of the plug-in's is taken as is.
export class Countdown {
  constructor() {
    this.timer = null;
    this.offset = null;
  }

  update(timer, receivedAtMs) {
    this.timer = timer;
    if (!timer || !timer.internalNowInEpochMs) return;
    const lag = receivedAtMs - timer.internalNowInEpochMs;
    this.offset = this.offset === null ? lag : Math.min(this.offset, lag);
  }

  remainingMs(nowMs) {
    const timer = this.timer;
    if (!timer || timer.isInfinite) return null;
    if (!timer.internalNowInEpochMs) return Math.max(0, timer.adjustedTimeLeftInPhase);
    const skew = Math.abs(this.offset) < 60000 ? 0 : this.offset;
    const elapsed = nowMs - skew - timer.internalNowInEpochMs;
    return Math.max(0, timer.adjustedTimeLeftInPhase - Math.max(0, elapsed));
  }
}

export function formatRemaining(ms) {
  if (ms === null) return "∞";
  const seconds = Math.ceil(ms / 1000);
  return seconds >= 60 ? `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, "0")}` : String(seconds);
}
