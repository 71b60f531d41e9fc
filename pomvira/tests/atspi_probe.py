# SPDX-License-Identifier: GPL-3.0-or-later
# The screen reader's side of EveryUser_x11_test: reads the camera program
# over AT-SPI, as Orca does, on the test's own session bus. Started with the
# program's process id; answers one command a line on standard input:
#   tree                 one JSON object a line for every accessible object
#                        of the program
#   do PATH ACTION       runs the named action of the object at PATH
#                        ("Ombra Viewer/Still picture"): "OK" or "ERROR ..."
#   events               one JSON object a line for every event of the
#                        program heard since the last "events": a
#                        notification shown, a name or a text changed
# Every answer ends with a line "END", so the test reads it whole.
import json
import sys

import pyatspi
from gi.repository import GLib

EVENTS = ["object:state-changed:showing", "object:property-change:accessible-name",
          "object:text-changed"]
heard = []


def states_of(acc):
    return sorted(pyatspi.stateToString(s) for s in acc.getState().getStates())


def actions_of(acc):
    try:
        action = acc.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def walk(acc, path, out):
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is None:
            continue
        here = path + [child.name]
        parent = child.parent
        out.append({
            "path": "/".join(here),
            "role": child.getRoleName(),
            "name": child.name,
            "states": states_of(child),
            "actions": actions_of(child),
            "parent": parent.name if parent is not None else None,
            "parentIsContainer": parent is not None and parent == acc,
        })
        walk(child, here, out)


def find(acc, names):
    if not names:
        return acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None and child.name == names[0]:
            found = find(child, names[1:])
            if found is not None:
                return found
    return None


def listen(pid):
    def on_event(event):
        try:
            source = event.source
            if source is None or source.get_process_id() != pid:
                return
            if event.type.startswith("object:state-changed") and not event.detail1:
                return
            heard.append({"type": event.type, "role": source.getRoleName(),
                          "name": source.name})
        except Exception:  # an object gone meanwhile
            pass
    pyatspi.Registry.registerEventListener(on_event, *EVENTS)


def answer(pid, line):
    words = line.rstrip("\n").split("\t")
    try:
        app = application(pid)
        if app is None:
            print("ERROR no application")
        elif words[0] == "tree":
            app.clearCache()
            nodes = []
            walk(app, [], nodes)
            for node in nodes:
                print(json.dumps(node, ensure_ascii=False))
        elif words[0] == "do":
            app.clearCache()
            target = find(app, words[1].split("/"))
            if target is None:
                print("ERROR no object " + words[1])
            else:
                action = target.queryAction()
                names = [action.getName(i) for i in range(action.nActions)]
                if words[2] not in names:
                    print("ERROR no action " + words[2] + " in " + ",".join(names))
                else:
                    action.doAction(names.index(words[2]))
                    print("OK")
        elif words[0] == "events":
            for event in heard:
                print(json.dumps(event, ensure_ascii=False))
            heard.clear()
        else:
            print("ERROR unknown command")
    except Exception as e:  # the test reads the reason
        print("ERROR " + repr(e).replace("\n", " "))
    print("END")
    sys.stdout.flush()


def main():
    pid = int(sys.argv[1])
    listen(pid)
    # A main loop of its own, not AT-SPI's: under AT-SPI's loop the client
    # keeps what it read of each object and would answer from that.
    loop = GLib.MainLoop()

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        answer(pid, line)
        return True
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    loop.run()


main()
