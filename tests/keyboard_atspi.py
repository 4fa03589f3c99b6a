#!/usr/bin/python3
# The real programs as a learner without a mouse and a screen reader meet them, on the X server
# that xdesktop started, over AT-SPI on a session bus of their own:
#   play FLAG  a whole quiz from the keys alone, with the hide flag FLAG: Enter on a wrong
#              picture does nothing, Space on each right one counts the gauge down and leaves the
#              focus on a picture, and the quiz ends by itself;
#   tree       roles, names and values of both programs, the quiz's tab and arrow-key order, a
#              picture's press action, and only the focused list of the editor with a focused row.
# Usage: xdesktop WM dbus-run-session -- python3 keyboard_atspi.py play|tree FLAG PIRVEL KOLMIRAS
#        FIXTURES_DIR
import os, shutil, subprocess, sys, tempfile, time
import pyatspi
from gi.repository import GLib

mode, flag, pirvel, kolmiras, fixtures = sys.argv[1:6]
work = tempfile.TemporaryDirectory()
ex = work.name
for i in range(1, 6):
    shutil.copy(f"{fixtures}/editor/red200.avi", f"{ex}/tecken{i}.avi")
    shutil.copy(f"{fixtures}/editor/blue80x20.gif", f"{ex}/bild{i}.gif")
# Long enough a closing video to read the empty gauge during it.
subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=s=64x48:r=1:d=4",
                f"{ex}/slut.mov"], check=True)
with open(f"{ex}/pirvel.ini", "w", newline="") as ini:
    ini.write("".join(f'"tecken{i}.avi"\r\n"bild{i}.gif"\r\n' for i in range(1, 6)) + f"{flag}\r\n")


def fail(why):
    sys.exit(f"FAIL: {why}")


def until(test, what, seconds=20):
    for _ in range(seconds * 10):
        GLib.MainContext.default().iteration(False)
        if result := test():
            return result
        time.sleep(0.1)
    fail(what)


def below(a):
    for c in a:
        yield c
        yield from below(c)


def start(exe):
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    program = subprocess.Popen([exe], cwd=ex, env=env)
    name = os.path.basename(exe)
    desktop = pyatspi.Registry.getDesktop(0)
    app = until(lambda: next((a for a in desktop if a and a.name == name), 0), f"{name} not on bus")
    until(lambda: focused(app), f"{name} has no focus")
    return program, app


def focused(app):
    return next((a for a in below(app) if a.getState().contains(pyatspi.STATE_FOCUSED)
                 and a.getRole() != pyatspi.ROLE_LIST_ITEM), None)


def controls(app, role):
    return [a for a in below(app) if a.getRole() == role]


def key(k):
    subprocess.run(["xdotool", "key", k], check=True)
    time.sleep(0.3)


def tab_to(app, name):
    for _ in range(8):
        if focused(app).name == name:
            return
        key("Tab")
    fail(f"Tab never reached {name}")


quiz, app = start(pirvel)
gauge = (controls(app, pyatspi.ROLE_PROGRESS_BAR) or fail("no gauge with a value"))[0].queryValue()
pictures = {p.name: p for p in controls(app, pyatspi.ROLE_PUSH_BUTTON) if p.description}
if mode == "play":
    tab_to(app, "bild2")
    key("Return")
    if gauge.currentValue != 5 or quiz.poll() is not None:
        fail("a wrong picture was taken")
    for n in range(1, 6):
        tab_to(app, f"bild{n}")
        key("space")
        until(lambda: gauge.currentValue == 5 - n, f"gauge after answer {n}")
        if n < 5 and quiz.poll() is None:
            if focused(app).description[:4] != "Bild":
                fail(f"after answer {n} the focus is on {focused(app).name}")
            if pictures[f"bild{n}"].getState().contains(pyatspi.STATE_SHOWING) != (flag != "1"):
                fail(f"answered picture shown with the hide flag {flag}")
    if quiz.wait(30) != 0:
        fail("the quiz did not end by itself")
    sys.exit(0)

names = lambda role: sorted(a.name for a in controls(app, role))
if names(pyatspi.ROLE_PUSH_BUTTON) != ["PLAY", "Sluta"] + [f"bild{i}" for i in range(1, 6)]:
    fail(f"quiz buttons {names(pyatspi.ROLE_PUSH_BUTTON)}")
if sorted(p.description for p in pictures.values()) != [f"Bild {i} av 5" for i in range(1, 6)]:
    fail("pictures not numbered by place")
if (gauge.minimumValue, gauge.currentValue, gauge.maximumValue) != (0, 5, 5):
    fail("gauge")
if "Video med tecknet" not in names(pyatspi.ROLE_FILLER):
    fail("the video has no name")
order = []
for k in ["Tab"] * 7 + ["Tab", "Tab", "Right", "Down", "Left"]:
    order.append(focused(app).description or focused(app).name)
    key(k)
order.append(focused(app).description)
places = [f"Bild {i} av 5" for i in (1, 2, 3, 4, 5)]
if order != ["PLAY", "Sluta"] + places + ["PLAY", "Sluta"] + places[0:1] + places[:1:-1]:
    fail(f"tab and arrow order {order}")
events = []
pyatspi.Registry.registerEventListener(lambda e: events.append(e.source.name),
                                       "object:property-change:accessible-value")
for p in ("bild2", "bild1"):
    pictures[p].queryAction().doAction(0)
until(lambda: gauge.currentValue == 4, "press action did not answer")
until(lambda: "Kvar att svara" in events, "no value change event")
quiz.kill()

editor, app = start(kolmiras)
wanted = {pyatspi.ROLE_LIST: ["Bilder i övningen", "Bildfiler i mappen", "Tecken i övningen",
                              "Videofiler i mappen"],
          pyatspi.ROLE_PUSH_BUTTON: ["Avbryt", "Lägg till/Ta bort bild",
                                     "Lägg till/Ta bort tecken", "Spara"],
          pyatspi.ROLE_IMAGE: ["Förhandsvisning av bild"], pyatspi.ROLE_FRAME: []}
for role, expected in wanted.items():
    if names(role) != expected:
        fail(f"editor {role}: {names(role)}")
for name in ("Pirvel", "Bild", "Radnummer 1 till 5", "Förhandsvisning av video"):
    if not any(a.name == name for a in below(app)):
        fail(f"nothing named {name}")
for k in ("Down", "Tab", "Tab", "Down"):
    key(k)
rows = [a.parent.name for a in controls(app, pyatspi.ROLE_LIST_ITEM)
        if a.getState().contains(pyatspi.STATE_FOCUSED)]
if rows != ["Tecken i övningen"] or focused(app).name != rows[0]:
    fail(f"focused rows in {rows}")
editor.kill()
