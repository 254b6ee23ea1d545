"""The tray on a desktop: kvplugin under Xvfb with a session bus, driven over D-Bus as a panel
would, its dialogs answered with the keyboard.

    dbus-run-session -- xvfb-run -a tray_test.py <kvplugin> <artifact folder>

Checks that the StatusNotifierItem is on the bus with the menu's items, that the start-at-login
item switches, that Cancel in the quit dialog changes nothing (a screenshot of the dialog is kept
in the artifact folder), that Restart re-executes the same process on the same port and that Quit
ends it with its stop banner.
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

kvplugin, artifacts = sys.argv[1], sys.argv[2]
home = tempfile.mkdtemp(prefix="kvplugin-tray-")
env = dict(os.environ, XDG_DATA_HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_RUNTIME_DIR=home + "/run",
           KVPLUGIN_CERT_MANIFEST_URL="https://127.0.0.1:9/kv-cert/130717/manifest.json")
item_path = "/org/ayatana/NotificationItem/kvplugin"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, flush=True)


def run(*arguments, timeout=10):
    return subprocess.run(arguments, env=env, capture_output=True, text=True, timeout=timeout)


def ping():
    answer = run(kvplugin, "--request", '{"methodName":1,"functionId":"tray"}')
    return answer.returncode == 0 and '"functionId":"tray"' in answer.stdout


def accepts(port):
    with socket.socket() as connection:
        return connection.connect_ex(("127.0.0.1", port)) == 0


def wait_until(condition, seconds=15):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def log():
    with open(home + "/com.keyvora.kvplugin/Logger/logfile-0.log", encoding="utf-8", errors="replace") as file:
        return file.read()


def bus_name(pid):
    names = run("gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                "--method", "org.freedesktop.DBus.ListNames").stdout
    for name in re.findall(r"'(:[0-9.]+)'", names):
        owner = run("gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                    "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID", name).stdout
        if re.search(r"\b%d\b" % pid, owner):
            found = run("gdbus", "introspect", "--session", "--dest", name, "--object-path", item_path, timeout=5)
            if "org.kde.StatusNotifierItem" in found.stdout:
                return name
    return None


def menu(name):
    layout = run("gdbus", "call", "--session", "--dest", name, "--object-path", item_path + "/Menu",
                 "--method", "com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "[]").stdout
    return [(int(ident), label) for ident, label in re.findall(r"\((\d+), \{[^}]*'label': <'((?:[^'\\]|\\.)*)'>", layout)]


def identifiers(items):
    """Each item's id by its title without the tabs and spaces that indent it."""
    return {label.replace("\\t", "").strip(): ident for ident, label in items}


def click(name, ident):
    run("gdbus", "call", "--session", "--dest", name, "--object-path", item_path + "/Menu",
        "--method", "com.canonical.dbusmenu.Event", "--", str(ident), "clicked", "<0>", "0")


def focus_dialog():
    """Gives the keyboard to the dialog just opened (there is no window manager to do it)."""
    windows = run("xdotool", "search", "--sync", "--onlyvisible", "--class", "kvplugin").stdout.split()
    check(windows, "a dialog was shown")
    if windows:
        run("xdotool", "windowfocus", "--sync", windows[-1])
        time.sleep(0.3)
        return windows[-1]
    return None


service = subprocess.Popen([kvplugin], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    check(wait_until(ping), "the service answers")
    name = None
    wait_until(lambda: bus_name(service.pid) is not None)
    name = bus_name(service.pid)
    check(name is not None, "the tray item is on the session bus")
    items = menu(name) if name else []
    labels = [label for _, label in items]
    print("menu:", labels, flush=True)
    for expected in ["  Open in Browser\\t\\t", "  Open in Chrome\\t\\t", "  Open in Firefox", "\\tClear Cache", "\\tOpen Logs",
                     "\\tRestart", "\\tQuit", "  Automatically start KeyvoraPlugin"]:
        check(expected in labels, "the menu lists %r" % expected)
    check(any(label.startswith("\\tVersion: ") for label in labels), "the menu shows the version")
    ident = identifiers(items)

    click(name, ident["Automatically start KeyvoraPlugin"])
    check(wait_until(lambda: "\\tAutomatically start KeyvoraPlugin" in [l for _, l in menu(name)], 5), "start at login switches off")
    check(not os.path.exists(home + "/config/autostart/kvplugin.desktop"), "the autostart entry goes")
    click(name, ident["Automatically start KeyvoraPlugin"])
    check(wait_until(lambda: os.path.exists(home + "/config/autostart/kvplugin.desktop"), 5), "the autostart entry comes back")

    click(name, ident["Diagnose Sound and Keyboards"])
    if focus_dialog():
        os.makedirs(artifacts, exist_ok=True)
        run("import", "-window", "root", os.path.join(artifacts, "tray-diagnosis.png"))
        run("xdotool", "key", "Escape")

    click(name, ident["Quit"])
    if focus_dialog():
        os.makedirs(artifacts, exist_ok=True)
        run("import", "-window", "root", os.path.join(artifacts, "tray-quit-dialog.png"))
        run("xdotool", "key", "Escape")
    time.sleep(0.5)
    check(service.poll() is None and ping(), "Cancel leaves the service running")

    click(name, ident["Restart"])
    if focus_dialog():
        run("xdotool", "key", "Return")
    check(wait_until(lambda: log().count("=============START KEYVORA============") == 2), "the restart started anew")
    check(wait_until(ping), "the restarted service answers on its port")
    check(service.poll() is None, "the same process goes on")
    check(accepts(19420) and not accepts(19421), "the restarted service keeps its port")

    name = None
    wait_until(lambda: bus_name(service.pid) is not None)
    name = bus_name(service.pid)
    check(name is not None, "the restarted tray item is on the bus")
    if name:
        click(name, identifiers(menu(name))["Quit"])
        if focus_dialog():
            run("xdotool", "key", "Return")
    try:
        status = service.wait(timeout=15)
    except subprocess.TimeoutExpired:
        status = None
    check(status == 0, "Quit ends the service with status 0")
    check("exit Application" in log() and "=============STOP KEYVORA=============" in log(), "Quit logs its lines")
finally:
    if service.poll() is None:
        service.kill()
        service.wait()
print("%d failure(s)" % len(failures), flush=True)
sys.exit(1 if failures else 0)
