#!/usr/bin/python3
"""The console survives its bridge going away: with the bridge killed the
page says it is reconnecting; once a bridge serves again on the same
address the page goes live and shows that bridge's game, not the old one.

usage: console_reconnect_test.py TOV_CORE PLUGIN"""

import sys
import time

from console_support import Bridge, browser, close, run, script_errors, wait_for

PAGE = """
return {
  connection: document.querySelector('#connection').dataset.state,
  cells: document.querySelectorAll('[data-cell]').length,
  myBans: [...document.querySelectorAll('#bans-my [data-ban]')].map((b) => +b.dataset.ban),
  localBanTurn: document.querySelector('#turn').dataset.local === 'true'
                && document.querySelector('#grid').dataset.mode === 'ban',
  choosable: [...document.querySelectorAll('#grid [data-champion]:not([disabled])')].map((b) => +b.dataset.champion),
};
"""


def main():
    core, plugin = sys.argv[1:3]
    bridge = Bridge(core, plugin)
    driver = None
    try:
        driver = browser()
        page = lambda: driver.execute_script(PAGE)
        driver.get(bridge.url)
        wait_for("ten cells on a live stream", lambda: page()["connection"] == "live" and page()["cells"] == 10, 10)

        # A ban in the first game marks the page's picture of it: the next
        # game has none, so a page that kept the old picture would show it.
        wait_for("the local ban turn", lambda: page()["localBanTurn"], 10)
        ban = page()["choosable"][0]
        driver.find_element("css selector", f'#grid [data-champion="{ban}"]').click()
        wait_for("the ban button", lambda: not driver.find_element("id", "lock").get_attribute("disabled"), 5)
        driver.find_element("id", "lock").click()
        wait_for(f"{ban} among the team's bans", lambda: ban in page()["myBans"], 5)

        address = bridge.address
        bridge.kill()
        killed = time.monotonic()
        wait_for("the page to notice the dropped stream", lambda: page()["connection"] == "reconnecting", 5)
        noticed = time.monotonic()

        bridge = Bridge(core, plugin, address=address)
        restarted = time.monotonic()
        wait_for("the page live again", lambda: page()["connection"] == "live", 10)
        live = time.monotonic()
        wait_for("the new game's ten cells", lambda: page()["cells"] == 10, 5)
        state = wait_for("the new game's open ban turn", lambda: page() if page()["localBanTurn"] else None, 5)
        assert state["myBans"] == [], f"the old game's bans are still shown: {state['myBans']}"
        assert ban in state["choosable"], f"{ban}, banned in the old game only, cannot be chosen"

        errors = script_errors(driver)
        assert not errors, "the page logged errors: " + "; ".join(errors)
        print(f"reconnecting {noticed - killed:.2f} s after the kill, live again {live - restarted:.2f} s "
              f"after the restart, the new game shown {time.monotonic() - live:.2f} s later")
    except AssertionError:
        print("bridge's last lines:\n" + bridge.log(), file=sys.stderr)
        raise
    finally:
        if driver:
            close(driver)
        bridge.stop()


if __name__ == "__main__":
    run(main)
