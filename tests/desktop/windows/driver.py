"""Driving Quenda's windows as assistive technology does, through AT-SPI: find the application, its
windows and their controls by accessible name, press buttons, fill editable text. Shared by the desktop test
and the screenshot script."""
import subprocess
import time

import pyatspi

QUENDA = None  # the quenda binary, set by the caller
failures = []


def check(condition, what):
    print(("PASS " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def quenda(*args):
    return subprocess.run([QUENDA, *args], capture_output=True, text=True, timeout=30)


def call(method, *args):
    subprocess.run(["gdbus", "call", "--session", "--dest", "com.quenda.Quenda", "--object-path",
                    "/com/quenda/Quenda", "--method", "com.quenda.Quenda." + method, *args],
                   check=True, capture_output=True, timeout=10)


def open_window(identifier):
    call("OpenWindow", identifier)


def wait_for(condition, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = condition()
        except Exception:  # the tree changes under us while windows appear
            value = None
        if value:
            return value
        time.sleep(0.1)
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        child = desktop.getChildAtIndex(index)
        if child is not None and child.name == "Quenda":
            return child
    return None


def showing(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def window(title):
    def find():
        app = application()
        for index in range(app.childCount if app else 0):
            child = app.getChildAtIndex(index)
            if child.name == title and showing(child):
                return child
        return None
    return wait_for(find)


def editable(accessible):
    try:
        accessible.queryEditableText()
        return True
    except NotImplementedError:
        return False


def find(root, name, role=None, timeout=10.0, where=None):
    def match(accessible):
        return (accessible is not None and accessible.name == name and showing(accessible)
                and (role is None or accessible.getRoleName() == role) and (where is None or where(accessible)))
    return wait_for(lambda: pyatspi.findDescendant(root, match), timeout)


def press(root, name):
    button = find(root, name)
    if not check(button is not None, "finds the control \"%s\"" % name):
        raise SystemExit(1)
    button.queryAction().doAction(0)


def type_into(root, name, text):
    # A field's caption label may carry the same name; the field is the one that takes text.
    field = find(root, name, where=editable)
    if not check(field is not None, "finds the field \"%s\"" % name):
        raise SystemExit(1)
    field.queryEditableText().setTextContents(text)


def xdotool(*keys):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True, timeout=10)


def keyring_listing():
    result = subprocess.run(["secret-tool", "search", "--all", "server", "com.quenda.Quenda"],
                            capture_output=True, text=True, timeout=10)
    return result.stdout + result.stderr


