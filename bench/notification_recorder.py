#!/usr/bin/python3
"""A desktop notification service that notes when each notification arrives.

    notification_recorder.py LOG_FILE

Owns org.freedesktop.Notifications on the session bus that DBUS_SESSION_BUS_ADDRESS
names and answers Notify with a new id. Appends "<epoch seconds>\\t<summary> | <body>"
to LOG_FILE for each (the body's line breaks as " | "), the time taken as the call is
handed over, before anything else is done with it. Prints "ready" once it owns the
name; runs until it is sent SIGTERM. Debian's own interpreter: python3-dbus lives there.
"""
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"


class Recorder(dbus.service.Object):
    def __init__(self, bus_name, log):
        super().__init__(bus_name, PATH)  # holds the name for as long as the recorder lives
        self.log = log
        self.last_id = 0

    def serve(self):
        print("ready", flush=True)
        GLib.MainLoop().run()

    # byte_arrays: the icon's pixels come as one bytes object, not thousands of objects
    # made before the call is stamped.
    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u", byte_arrays=True)
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        now = time.time()
        self.log.write("%.6f\t%s | %s\n" % (now, summary, body.replace("\n", " | ")))
        self.last_id += 1
        return self.last_id


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    with open(sys.argv[1], "a", buffering=1) as log:
        Recorder(dbus.service.BusName(NAME, dbus.SessionBus()), log).serve()


if __name__ == "__main__":
    main()
