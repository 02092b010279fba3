// The page learns everything from the bridge's event stream. After a drop it
// opens a new stream; the bridge greets every new subscriber with the
// current resources as "Create" events, which is all a resync needs.

import { PREFIX } from "./api.js";

const RESOURCES = [
  "session",
  "session/timer",
  "pickable-champions",
  "bannable-champions",
  "team-boost",
  "implementation-active",
];

// The bridge names each event after its resource's uri; the catch-all
// "OnJsonApiEvent" repeats every one of them and is left unheard.
export function eventName(resource) {
  return "OnJsonApiEvent_" + (PREFIX + resource).slice(1).replaceAll("/", "_");
}

// onEvent(resource, eventType, data); onState("connecting"|"live"|"reconnecting").
export function connect({ url = "/events", onEvent, onState }) {
  let source = null;
  let delay = 500;
  let everOpen = false;
  let retryTimer = 0;

  const open = () => {
    retryTimer = 0;
    source = new EventSource(url);
    source.addEventListener("open", () => {
      everOpen = true;
      delay = 500;
      onState("live");
    });
    // EventSource retries by itself after a dropped stream but gives up for
    // good on an answer that is not a stream (a 503 past the subscriber cap,
    // a bridge restarting). Retrying here covers both and keeps the wait the
    // same in every browser; a local bridge back from a restart is found
    // within two seconds.
    source.addEventListener("error", () => {
      source.close();
      onState(everOpen ? "reconnecting" : "connecting");
      if (!retryTimer) retryTimer = setTimeout(open, delay);
      delay = Math.min(delay * 2, 2000);
    });
    for (const resource of RESOURCES) {
      source.addEventListener(eventName(resource), (message) => {
        let event;
        try {
          event = JSON.parse(message.data);
        } catch {
          return;
        }
        onEvent(resource, event.eventType, event.data ?? null);
      });
    }
  };

  onState("connecting");
  open();
  return {
    close() {
      clearTimeout(retryTimer);
      source?.close();
    },
  };
}
