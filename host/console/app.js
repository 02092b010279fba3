import { routes } from "./modules/api.js";
import { connect } from "./modules/events.js";
import { championColour, championName, skinName, spellName } from "./modules/names.js";
import {
  Countdown, banningChampion, cellView, currentTurn, formatRemaining, localOpenAction, localPlayer, phaseLabel, players,
} from "./modules/model.js";

const SPELLS = Array.from({ length: 10 }, (_, i) => 101 + i);
const WARD_SKINS = Array.from({ length: 11 }, (_, i) => i);

const state = {
  session: null,
  pickable: [],
  bannable: [],
  boost: null,
  active: null,
};
const countdown = new Countdown();
const $ = (selector) => document.querySelector(selector);

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === "class") node.className = value;
    else if (key === "style") node.style.cssText = value;
    else node.setAttribute(key, value === true ? "" : String(value));
  }
  node.append(...children.filter((c) => c !== null && c !== undefined));
  return node;
}

function championBadge(id, extraClass = "") {
  return element("span", { class: `badge ${extraClass}`, style: `--hue-colour:${championColour(id)}`, title: id ? `${championName(id)} (#${id})` : "" },
    id ? championName(id).slice(0, 2) : "");
}

// ---- Status line --------------------------------------------------------

let statusTimer = 0;
function say(text, kind) {
  const status = $("#status");
  status.textContent = text;
  status.dataset.kind = kind;
  status.classList.add("shown");
  clearTimeout(statusTimer);
  statusTimer = setTimeout(() => status.classList.remove("shown"), kind === "error" ? 8000 : 3000);
}

// Every control goes through here: the outcome is read from the next push,
// so success only needs a quiet note, while a refusal shows the plug-in's text.
async function send(what, request) {
  try {
    await request();
    say(`${what}: sent`, "ok");
  } catch (error) {
    say(`${what} refused: ${error.message}`, "error");
  }
}

// ---- Teams --------------------------------------------------------------

function renderTeam(listSelector, team, session, turnCells) {
  const list = $(listSelector);
  list.replaceChildren(...team.map((player) => {
    const view = cellView(session, player);
    const banning = banningChampion(session, player.cellId);
    const isLocal = player.cellId === session.localPlayerCellId;
    return element("li", {
      class: "cell",
      "data-cell": player.cellId,
      "data-state": view.state,
      "data-cell-champion": view.championId,
      "data-local": isLocal ? "true" : null,
      "data-active": turnCells.has(player.cellId) ? "true" : null,
    },
    championBadge(view.championId, "portrait"),
    element("span", { class: "who" },
      element("span", { class: "name" }, player.displayName || `Cell ${player.cellId}`, isLocal ? element("em", {}, " (you)") : null),
      element("span", { class: "champion" },
        view.championId ? `${championName(view.championId)} #${view.championId}` : "no champion",
        view.state === "hover" ? element("span", { class: "tag" }, "hovering") : null,
        view.state === "locked" ? element("span", { class: "tag" }, "locked") : null),
      banning ? element("span", { class: "banning", "data-banning": banning }, `banning ${championName(banning)} #${banning}`) : null),
    element("span", { class: "spells", title: "summoner spells" },
      `${spellName(player.spell1Id)} · ${spellName(player.spell2Id)}`));
  }));
}

function renderBans(selector, bans, numBans) {
  const box = $(selector);
  const perTeam = Math.ceil((numBans || 0) / 2);
  const slots = bans.map((id) => element("span", { class: "ban", "data-ban": id, title: `${championName(id)} #${id}` },
    championBadge(id), element("span", {}, `${championName(id)} #${id}`)));
  for (let i = bans.length; i < perTeam; i++) slots.push(element("span", { class: "ban open" }, "ban"));
  box.replaceChildren(...slots);
}

// ---- Champion grid ------------------------------------------------------

let gridKey = "";
function renderGrid(session) {
  const action = localOpenAction(session);
  const mode = action?.type === "ban" ? "ban" : "pick";
  const ids = mode === "ban" ? state.bannable : state.pickable;
  const filter = $("#search").value.trim().toLowerCase();
  const shown = ids.filter((id) => !filter || String(id) === filter || championName(id).toLowerCase().includes(filter));
  const grid = $("#grid");
  grid.dataset.mode = mode;
  $("#grid-title").textContent = action ? (mode === "ban" ? "Ban a champion" : "Pick a champion") : "Champions";

  const chosen = action?.championId ?? 0;
  // Banned and locked champions stay listed but cannot be chosen again.
  const taken = new Set([...(session.bans?.myTeamBans ?? []), ...(session.bans?.theirTeamBans ?? [])]);
  for (const player of players(session)) {
    const view = cellView(session, player);
    if (view.state === "locked") taken.add(view.championId);
  }
  const key = JSON.stringify([mode, shown, chosen, action?.id ?? null, [...taken]]);
  if (key !== gridKey) {
    gridKey = key;
    grid.replaceChildren(...shown.map((id) => element("button", {
      type: "button",
      class: "champ",
      role: "option",
      "data-champion": id,
      "aria-selected": id === chosen ? "true" : "false",
      "data-taken": taken.has(id) ? "true" : null,
      disabled: !action || taken.has(id),
      style: `--hue-colour:${championColour(id)}`,
    }, championBadge(id), element("span", { class: "label" }, championName(id)), element("span", { class: "id" }, `#${id}`))));
  }
  const lock = $("#lock");
  lock.disabled = !action || !chosen;
  lock.textContent = mode === "ban" ? "Ban" : "Lock in";
}

$("#grid").addEventListener("click", (event) => {
  const button = event.target.closest("button[data-champion]");
  const action = localOpenAction(state.session);
  if (!button || !action) return;
  const id = Number(button.dataset.champion);
  send(`${action.type === "ban" ? "Ban" : "Pick"} ${championName(id)}`, () => routes.hover(action.id, id));
});
$("#search").addEventListener("input", () => renderGrid(state.session));
$("#lock").addEventListener("click", () => {
  const action = localOpenAction(state.session);
  if (action) send(action.type === "ban" ? "Ban" : "Lock in", () => routes.complete(action.id));
});

// ---- The local player's selection ---------------------------------------

function fillSelect(select, options, value) {
  const key = JSON.stringify(options);
  if (select.dataset.key !== key) {
    select.dataset.key = key;
    select.replaceChildren(...options.map(([v, label]) => element("option", { value: v }, label)));
  }
  if (document.activeElement !== select) select.value = String(value);
}

function skinOptions(me) {
  const champion = me?.championId ?? 0;
  if (!champion) return [];
  const ids = new Set(Array.from({ length: 10 }, (_, i) => champion * 1000 + i));
  const boosted = new Set(state.boost?.unlocked ? state.boost.availableSkins.filter((s) => Math.floor(s / 1000) === champion) : []);
  for (const id of boosted) ids.add(id);
  if (me.selectedSkinId) ids.add(me.selectedSkinId);
  return [...ids].sort((a, b) => a - b).map((id) => [id, skinName(id) + (boosted.has(id) ? " (boost)" : "")]);
}

function renderSelection(session) {
  const me = localPlayer(session);
  const spells = SPELLS.map((id) => [id, `${spellName(id)} #${id}`]);
  fillSelect($("#spell1"), spells, me?.spell1Id ?? "");
  fillSelect($("#spell2"), spells, me?.spell2Id ?? "");
  const skins = skinOptions(me);
  fillSelect($("#skin"), skins, me?.selectedSkinId ?? "");
  $("#skin").disabled = !skins.length || session.allowSkinSelection === false;
  fillSelect($("#ward"), [[-1, "none"], ...WARD_SKINS.map((id) => [id, `Ward ${id}`])], me?.wardSkinId ?? -1);
  for (const id of ["#spell1", "#spell2", "#ward"]) $(id).disabled = !me;
  const reroll = $("#reroll");
  reroll.disabled = !session.allowRerolling;
  reroll.textContent = session.allowRerolling ? `Reroll (${session.rerollsRemaining} left)` : "Reroll";
}

const selectionField = { spell1: "spell1Id", spell2: "spell2Id", skin: "selectedSkinId", ward: "wardSkinId" };
for (const [id, field] of Object.entries(selectionField)) {
  $(`#${id}`).addEventListener("change", (event) => {
    const value = Number(event.target.value);
    event.target.blur();
    send(`Change ${field}`, () => routes.mySelection({ [field]: value }));
  });
}
$("#reroll").addEventListener("click", () => send("Reroll", routes.reroll));
$("#launch").addEventListener("click", () => send("Launch battle training", routes.launchTraining));

// ---- Trades and the team boost ------------------------------------------

const TRADE_VERBS = { AVAILABLE: ["request"], SENT: ["cancel"], RECEIVED: ["accept", "decline"] };
const TRADE_TEXT = { AVAILABLE: "can trade", BUSY: "busy", INVALID: "cannot trade", RECEIVED: "offers you a trade", SENT: "offer sent" };

function renderTrades(session) {
  const byCell = new Map(players(session).map((p) => [p.cellId, p]));
  const trades = session.trades ?? [];
  $("#trades ul").replaceChildren(...trades.map((trade) => {
    const mate = byCell.get(trade.cellId);
    return element("li", { "data-trade": trade.id, "data-trade-state": trade.state },
      championBadge(mate?.championId ?? 0),
      element("span", { class: "who" }, `${mate?.displayName ?? `Cell ${trade.cellId}`}: ${mate?.championId ? championName(mate.championId) : "no champion"}`),
      element("span", { class: "tag" }, TRADE_TEXT[trade.state] ?? trade.state),
      ...(TRADE_VERBS[trade.state] ?? []).map((verb) => element("button", { type: "button", "data-do": verb, "data-trade-id": trade.id }, verb)));
  }));
  $("#trades").dataset.count = trades.length;
}

$("#trades").addEventListener("click", (event) => {
  const button = event.target.closest("button[data-do]");
  if (button) send(`Trade ${button.dataset.do}`, () => routes.trade(button.dataset.tradeId, button.dataset.do));
});

function renderBoost() {
  const boost = state.boost;
  const box = $("#boost");
  box.dataset.offered = boost ? "true" : "false";
  box.dataset.unlocked = boost?.unlocked ? "true" : "false";
  if (!boost) return;
  $("#boost-price").textContent = `${boost.price}`;
  $("#boost-reward").textContent = `${boost.ipReward} each, ${boost.ipRewardForPurchaser} to the buyer`;
  $("#boost-skins").textContent = `${boost.availableSkins.length} (${boost.skinUnlockMode || "—"})`;
  $("#boost-buyer").textContent = boost.unlocked ? boost.summonerName || "someone" : "not bought yet";
  const buy = $("#boost-buy");
  buy.disabled = boost.unlocked;
  buy.textContent = boost.unlocked ? "Unlocked" : `Buy for the team (${boost.price})`;
}
$("#boost-buy").addEventListener("click", () => send("Team boost", routes.buyBoost));

// ---- The whole page -----------------------------------------------------

function renderTurn(session) {
  const turn = currentTurn(session);
  const byCell = new Map(players(session).map((p) => [p.cellId, p]));
  const text = $("#turn");
  if (!turn.open.length) {
    text.textContent = "";
    text.dataset.local = "false";
    return new Set();
  }
  const mine = turn.open.some((a) => a.actorCellId === session.localPlayerCellId);
  const names = turn.open.map((a) => byCell.get(a.actorCellId)?.displayName ?? `cell ${a.actorCellId}`);
  const kind = turn.open[0].type === "ban" ? "banning" : "picking";
  text.textContent = mine ? `Your turn: ${kind === "banning" ? "ban" : "pick"}` : `${names.join(", ")} ${kind}`;
  text.dataset.local = mine ? "true" : "false";
  return new Set(turn.open.map((a) => a.actorCellId));
}

function render() {
  const session = state.session;
  const live = Boolean(session && (session.myTeam?.length || session.theirTeam?.length));
  document.body.dataset.session = live ? "live" : "none";
  renderBoost();
  if (!session) {
    for (const s of ["#my-team .cells", "#their-team .cells", "#bans-my", "#bans-their", "#trades ul", "#grid"]) $(s).replaceChildren();
    gridKey = "";
    return;
  }
  const phase = session.timer?.phase ?? "";
  $("#phase").textContent = phaseLabel(phase);
  $("#phase").dataset.phase = phase;
  const turnCells = renderTurn(session);
  renderTeam("#my-team .cells", session.myTeam ?? [], session, turnCells);
  renderTeam("#their-team .cells", session.theirTeam ?? [], session, turnCells);
  renderBans("#bans-my", session.bans?.myTeamBans ?? [], session.bans?.numBans);
  renderBans("#bans-their", session.bans?.theirTeamBans ?? [], session.bans?.numBans);
  renderGrid(session);
  renderSelection(session);
  renderTrades(session);
  tick();
}

function tick() {
  const timer = $("#timer");
  const ms = countdown.remainingMs(Date.now());
  timer.dataset.infinite = ms === null ? "true" : "false";
  timer.textContent = state.session ? formatRemaining(ms) : "–";
  timer.dataset.urgent = ms !== null && ms < 10000 ? "true" : "false";
}
setInterval(tick, 250);

function onEvent(resource, eventType, data) {
  const gone = eventType === "Delete";
  switch (resource) {
    case "session":
      state.session = gone ? null : data;
      countdown.update(state.session?.timer ?? null, Date.now());
      break;
    case "session/timer":
      if (state.session && !gone) state.session.timer = data;
      countdown.update(gone ? null : data, Date.now());
      break;
    case "pickable-champions":
      state.pickable = gone ? [] : data?.championIds ?? [];
      break;
    case "bannable-champions":
      state.bannable = gone ? [] : data?.championIds ?? [];
      break;
    case "team-boost":
      state.boost = gone ? null : data;
      break;
    case "implementation-active":
      state.active = gone ? null : data;
      document.body.dataset.active = String(state.active);
      break;
  }
  render();
}

const CONNECTION_TEXT = { connecting: "connecting…", live: "live", reconnecting: "reconnecting…" };
function onState(connection) {
  // A new stream starts with the bridge's "Create" snapshot; whatever it
  // leaves out (a team boost that no longer exists) must not linger.
  if (connection === "live") {
    Object.assign(state, { session: null, pickable: [], bannable: [], boost: null, active: null });
    countdown.update(null, Date.now());
    render();
  }
  const badge = $("#connection");
  badge.dataset.state = connection;
  badge.textContent = CONNECTION_TEXT[connection];
  document.body.dataset.connection = connection;
}

connect({ onEvent, onState });
