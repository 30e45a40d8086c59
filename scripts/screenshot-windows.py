#!/usr/bin/python3
"""Screenshots of every window and page of Quenda, as PNG files, taken in the headless session from the
running tray application (the windows are opened over D-Bus and driven through AT-SPI, like the desktop
test). The palette is the session's: run it once with a light and once with a dark GTK theme.

Usage (inside scripts/session.sh): screenshot-windows.py QUENDA_BINARY OUTPUT_FOLDER SUFFIX"""
import os
import subprocess
import sys
import time

import gi

# The window driver and the loopback backend are the windows desktop test's own.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "desktop", "windows"))

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402

import driver  # noqa: E402
from backend import Backend  # noqa: E402
from driver import find, open_window, press, quenda, type_into, wait_for, window, xdotool  # noqa: E402

driver.QUENDA = sys.argv[1]
OUTPUT = sys.argv[2]
SUFFIX = sys.argv[3]


def shoot(accessible, name):
    """Saves what the window shows (its client area, without the window manager's frame)."""
    time.sleep(0.6)  # let fades and repaints finish
    x, y, width, height = accessible.queryComponent().getExtents(0)
    root = Gdk.get_default_root_window()
    pixbuf = Gdk.pixbuf_get_from_window(root, x, y, width, height)
    path = os.path.join(OUTPUT, "%s-%s.png" % (name, SUFFIX))
    pixbuf.savev(path, "png", [], [])
    print("saved", path, flush=True)


def scroll(accessible, clicks):
    """Scrolls the window's form with the mouse wheel over its middle: down for positive clicks, up for
    negative ones."""
    import pyatspi
    x, y, width, height = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "--repeat",
                    str(abs(clicks)), "--delay", "30", "5" if clicks > 0 else "4"], check=True, timeout=20)
    time.sleep(0.3)


def main():
    backend = Backend()
    quenda("config", "set", "hasCompletedOnboarding", "true", "--bool")
    quenda("config", "set", "entitlementsMigration_0_3_17", "true", "--bool")
    app = subprocess.Popen([driver.QUENDA], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: quenda("open", "settings").returncode == 0, 20)

        settings = window("Quenda Settings")
        shoot(settings, "settings-activation")
        version = wait_for(lambda: find(settings, "Quenda v0.1.0 Beta", timeout=1), 3)
        if version is not None:
            for _ in range(7):
                version.queryAction().doAction(0)
                time.sleep(0.25)  # presses are animated clicks: one during the last is merged into it
        scroll(settings, 5)
        shoot(settings, "settings-account")
        scroll(settings, 40)
        shoot(settings, "settings-about")
        scroll(settings, -60)
        press(settings, "Hotkey: Right Ctrl")
        time.sleep(0.3)
        xdotool("r")
        shoot(settings, "settings-recording")
        xdotool("Escape")
        type_into(settings, "Backend URL", backend.origin)
        type_into(settings, "Your name", "Ada Lovelace")
        type_into(settings, "Email", "ada@example.com")
        press(settings, "Sign In")
        find(settings, "Backend: Connected")

        open_window("stats")
        shoot(window("Stats"), "stats")

        open_window("dictionary")
        editor = window("Personal Dictionary")
        shoot(editor, "dictionary-empty")
        # Filled from a shell, as a user may: the open window follows the stored list.
        for misheard, correct in (("teh", "the"), ("anna", "Hannah"), ("kubernetes", "Kubernetes")):
            quenda("dictionary", "add", misheard, correct)
        find(editor, "Kubernetes")
        shoot(editor, "dictionary")

        open_window("snippets")
        editor = window("Snippets")
        shoot(editor, "snippets-empty")
        for trigger, expansion in (("my address", "1 Long Road\nSpringfield"),
                                   ("email signature", "Best regards,\nAda Lovelace\nAnalytical Engines Ltd. "
                                    "· +44 20 7946 0000 · ada@example.com")):
            quenda("snippets", "add", trigger, expansion)
        find(editor, "email signature")
        shoot(editor, "snippets")

        open_window("report-problem")
        report = window("Report a Problem")
        type_into(report, "What went wrong?", "The pill stayed on screen after I let go of the key.")
        shoot(report, "report")
        press(report, "Send Report")
        find(report, "Report Sent")
        shoot(report, "report-sent")

        open_window("feedback")
        shoot(window("Feedback"), "feedback-nothing-flagged")

        open_window("onboarding")
        onboarding = window("Welcome to Quenda")
        shoot(onboarding, "onboarding-welcome")
        press(onboarding, "Get Started")
        shoot(onboarding, "onboarding-permissions")
        press(onboarding, "Continue")
        shoot(onboarding, "onboarding-sign-in")
    finally:
        quenda("quit")
        try:
            app.wait(timeout=10)
        except subprocess.TimeoutExpired:
            app.kill()
        backend.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
