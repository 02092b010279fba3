// The plug-in's routes, reached through the bridge at their own paths. A
// refusal carries the plug-in's own words in {"error": ...}; they are what
// the player should read, so they are passed on untouched.

export const PREFIX = "/tov-vover-orevid-aredez/v1/";

export class Refusal extends Error {
  constructor(status, text) {
    super(text);
    this.status = status;
  }
}

async function call(method, route, body) {
  const init = { method, headers: { Accept: "application/json" } };
  if (body !== undefined) {
    init.headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(PREFIX + route, init);
  } catch (error) {
    throw new Refusal(0, "The bridge cannot be reached");
  }
  const text = await response.text();
  let value = null;
  if (text) {
    try {
      value = JSON.parse(text);
    } catch {
      value = text;
    }
  }
  if (!response.ok) {
    const reason = value && typeof value === "object" && "error" in value ? value.error : text || response.statusText;
    throw new Refusal(response.status, String(reason));
  }
  return value;
}

export const routes = {
  hover: (actionId, championId) => call("PATCH", `session/actions/${actionId}`, { championId }),
  complete: (actionId) => call("POST", `session/actions/${actionId}/complete`),
  mySelection: (fields) => call("PATCH", "session/my-selection", fields),
  reroll: () => call("POST", "session/my-selection/reroll"),
  trade: (tradeId, verb) => call("POST", `session/trades/${tradeId}/${verb}`),
  buyBoost: () => call("POST", "team-boost/purchase"),
  launchTraining: () => call("POST", "battle-training/launch"),
};
