#!/usr/bin/python3
"""A person plays the local player's turns of a served draft in Chromium:
a ban, then a hovered and locked pick, each shown only once the platform's
push comes back through the plug-in. Leaves a screenshot for the CI run.

usage: console_draft_test.py TOV_CORE PLUGIN SCREENSHOT"""

import sys
import time

from console_support import Bridge, browser, close, run, script_errors, wait_for

# What the page shows, read in one round trip.
PAGE = """
const cell = (c) => ({cell: +c.dataset.cell, state: c.dataset.state, champion: +c.dataset.cellChampion,
                      local: c.dataset.local === 'true', banning: +(c.querySelector('[data-banning]')?.dataset.banning ?? 0)});
const portrait = document.querySelector('[data-local="true"] .portrait');
const style = portrait && getComputedStyle(portrait);
return {
  connection: document.querySelector('#connection').dataset.state,
  cells: [...document.querySelectorAll('[data-cell]')].map(cell),
  myBans: [...document.querySelectorAll('#bans-my [data-ban]')].map((b) => +b.dataset.ban),
  mode: document.querySelector('#grid').dataset.mode,
  localTurn: document.querySelector('#turn').dataset.local === 'true',
  choosable: [...document.querySelectorAll('#grid [data-champion]:not([disabled])')].map((b) => +b.dataset.champion),
  lockEnabled: !document.querySelector('#lock').disabled,
  timer: document.querySelector('#timer').textContent,
  status: document.querySelector('#status').textContent,
  statusKind: document.querySelector('#status').dataset.kind,
  localPortrait: style ? {outline: style.outlineStyle, opacity: +style.opacity} : null,
};
"""


def main():
    core, plugin, screenshot = sys.argv[1:4]
    # Seed 4: the bots ban quickly, so the local pick comes some 15 s in.
    bridge = Bridge(core, plugin, seed=4)
    driver = None
    try:
        driver = browser()
        page = lambda: driver.execute_script(PAGE)
        click = lambda selector: driver.find_element("css selector", selector).click()
        driver.get(bridge.url)

        wait_for("ten cells on a live stream",
                 lambda: page()["connection"] == "live" and len(page()["cells"]) == 10, 10)
        local = next(c["cell"] for c in page()["cells"] if c["local"])

        # The draft opens on the local player's ban (1 s after the start, 30 s long).
        wait_for("the local ban turn", lambda: page()["localTurn"] and page()["mode"] == "ban", 10)
        ban = page()["choosable"][-1]
        click(f'#grid [data-champion="{ban}"]')
        wait_for(f"the ban of {ban} hovered in the local cell",
                 lambda: next(c for c in page()["cells"] if c["cell"] == local)["banning"] == ban, 5)
        wait_for("the ban button", lambda: page()["lockEnabled"], 5)
        click("#lock")
        wait_for(f"{ban} among the team's bans", lambda: ban in page()["myBans"], 5)
        assert ban not in page()["choosable"], "a banned champion can still be chosen"

        # The five bots' bans take some 15 s on this seed; meanwhile the page has
        # to count down from the published timer and show a refusal's text.
        first = page()["timer"]
        time.sleep(1.3)
        second = page()["timer"]
        assert first.isdigit() and second.isdigit() and 0 < int(first) - int(second) <= 2, \
            f"the timer does not count down by the second: {first!r}, then {second!r}"
        click("#launch")
        wait_for("the plug-in's refusal of a launch outside battle training",
                 lambda: page()["statusKind"] == "error" and page()["status"].endswith(": Not in battle training"), 5)

        wait_for("the local pick turn", lambda: page()["localTurn"] and page()["mode"] == "pick", 45)
        pick = page()["choosable"][0]
        click(f'#grid [data-champion="{pick}"]')
        mine = lambda: next(c for c in page()["cells"] if c["cell"] == local)
        wait_for(f"{pick} hovered in the local cell",
                 lambda: mine()["state"] == "hover" and mine()["champion"] == pick, 5)
        hovered = page()["localPortrait"]
        wait_for("the lock button", lambda: page()["lockEnabled"], 5)
        click("#lock")
        wait_for(f"{pick} locked in the local cell",
                 lambda: mine()["state"] == "locked" and mine()["champion"] == pick, 5)
        locked = page()["localPortrait"]
        assert hovered["outline"] == "dashed" and hovered["opacity"] < 1, f"a hover is drawn as {hovered}"
        assert locked["outline"] == "solid" and locked["opacity"] == 1, f"a lock is drawn as {locked}"

        errors = script_errors(driver)
        assert not errors, "the page logged errors: " + "; ".join(errors)
        driver.save_screenshot(screenshot)
        print(f"ban {ban}, pick {pick} locked {time.monotonic() - bridge.started_at:.1f} s after the start; "
              f"screenshot {screenshot}")
    except AssertionError:
        if driver:
            driver.save_screenshot(screenshot.replace(".png", "-failure.png"))
        print("bridge's last lines:\n" + bridge.log(), file=sys.stderr)
        raise
    finally:
        if driver:
            close(driver)
        bridge.stop()


if __name__ == "__main__":
    run(main)
