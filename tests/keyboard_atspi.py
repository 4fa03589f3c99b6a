#!/usr/bin/python3
# The real programs as a learner without a mouse and a screen reader meet them, over AT-SPI
# (run under xdesktop and dbus-run-session). play FLAG: a whole quiz from the keys, hide flag FLAG.
# tree: roles, names, values, tab and arrow order; a focused row only in the focused list.
import os, shutil, subprocess, sys, tempfile, time
# A window manager in a session of its own may have put its AT-SPI bus on the screen.
subprocess.run(["xprop", "-root", "-remove", "AT_SPI_BUS"], check=True)
import pyatspi
from gi.repository import GLib

mode, flag, pirvel, kolmiras, fixtures = sys.argv[1:6]  # play|tree FLAG PIRVEL KOLMIRAS FIXTURES
ex = (work := tempfile.TemporaryDirectory()).name
for i in range(1, 6):
    shutil.copy(f"{fixtures}/editor/red200.avi", f"{ex}/tecken{i}.avi")
    shutil.copy(f"{fixtures}/editor/blue80x20.gif", f"{ex}/bild{i}.gif")
with open(f"{ex}/pirvel.ini", "w", newline="") as ini:
    ini.write("".join(f'"tecken{i}.avi"\r\n"bild{i}.gif"\r\n' for i in range(1, 6)) + f"{flag}\r\n")
# Long enough a closing video to read the empty gauge during it.
subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=s=64x48:r=1:d=4",
                f"{ex}/slut.mov"], check=True)

def check(ok, why):
    ok or sys.exit(f"FAIL: {why}")
    return ok
def until(test, what):
    for _ in range(200):
        GLib.MainContext.default().iteration(False)
        if result := test():
            return result
        time.sleep(0.1)
    check(False, what)
def start(exe):
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    program, name = subprocess.Popen([exe], cwd=ex, env=env), os.path.basename(exe)
    desktop = pyatspi.Registry.getDesktop(0)
    app = until(lambda: next((a for a in desktop if named(a, name)), 0), f"{name} not on bus")
    until(lambda: focused(app), f"{name} has no focus")
    return program, app
def named(a, name):  # the quiz, killed, can stay listed a while
    try:
        return a and a.name == name
    except GLib.GError:
        return False
def focused(app):
    return pyatspi.findDescendant(app, lambda a: a.getRole() != pyatspi.ROLE_LIST_ITEM
                                  and a.getState().contains(pyatspi.STATE_FOCUSED))
def controls(app, role):
    return pyatspi.findAllDescendants(app, lambda a: a.getRole() == role)
def names(app, role):
    return sorted(a.name for a in controls(app, role))
def key(k, app=None, to=None):
    # With `to`: Tab until the control of that name has the focus, then k.
    for _ in range(8 if to else 0):
        if focused(app).name != to:
            key("Tab")
    check(not to or focused(app).name == to, f"Tab never reached {to}")
    subprocess.run(["xdotool", "key", k], check=True)
    time.sleep(0.3)

quiz, app = start(pirvel)
gauge = check(controls(app, pyatspi.ROLE_PROGRESS_BAR), "no gauge with a value")[0].queryValue()
pictures = {p.name: p for p in controls(app, pyatspi.ROLE_PUSH_BUTTON) if p.description}
if mode == "play":
    key("Return", app, to="bild2")
    check(gauge.currentValue == 5 and quiz.poll() is None, "a wrong picture was taken")
    for n in range(1, 6):
        key("space", app, to=f"bild{n}")
        until(lambda: gauge.currentValue == 5 - n, f"gauge after answer {n}")
        check(n == 5 or focused(app).description.startswith("Bild"), f"focus after answer {n}")
        check(pictures[f"bild{n}"].getState().contains(pyatspi.STATE_SHOWING) != (flag == "1"),
              f"answered picture shown or not with the hide flag {flag}")
    check(quiz.wait(30) == 0, "the quiz did not end by itself")
    sys.exit(0)

check(names(app, pyatspi.ROLE_PUSH_BUTTON) == ["PLAY", "Sluta"] + [f"bild{i}" for i in range(1, 6)],
      f"quiz buttons {names(app, pyatspi.ROLE_PUSH_BUTTON)}")
places = [f"Bild {i} av 5" for i in range(1, 6)]
check(sorted(p.description for p in pictures.values()) == places, "pictures' places")
check((gauge.minimumValue, gauge.currentValue, gauge.maximumValue) == (0, 5, 5), "gauge")
check("Teckenvideon" in names(app, pyatspi.ROLE_FILLER), "the video has no name")
order = []
for k in ["Tab"] * 9 + ["Right", "Down", "Left", ""]:
    order.append(focused(app).description or focused(app).name)
    if k:
        key(k)
check(order == ["PLAY", "Sluta"] + places + ["PLAY", "Sluta"] + places[0:1] + places[:1:-1],
      f"tab and arrow order {order}")
events = []
pyatspi.Registry.registerEventListener(lambda e: events.append(e.source.name),
                                       "object:property-change:accessible-value")
for p in ("bild2", "bild1"):
    pictures[p].queryAction().doAction(0)
until(lambda: gauge.currentValue == 4 and "Kvar att svara" in events, "press action or event")
quiz.kill()

editor, app = start(kolmiras)
lists = ["Bilder i mappen", "Bilder i övningen", "Tecken i övningen", "Videor i mappen"]
check(names(app, pyatspi.ROLE_LIST) == lists and not controls(app, pyatspi.ROLE_FRAME), "lists")
for name in ("Lägg till/Ta bort tecken", "Lägg till/Ta bort bild", "Tecken", "Bild",
             "Radnummer 1 till 5", "Förhandsvisning av video", "Förhandsvisning av bild"):
    check(pyatspi.findDescendant(app, lambda a: a.name == name), f"nothing named {name}")
for k in ("Down", "Tab", "Tab", "Down"):
    key(k)
rows = [a.parent.name for a in controls(app, pyatspi.ROLE_LIST_ITEM)
        if a.getState().contains(pyatspi.STATE_FOCUSED)]
check(rows == ["Tecken i övningen"] == [focused(app).name], f"focused rows in {rows}")
editor.kill()
