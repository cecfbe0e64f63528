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
    def __init__(self, bus, log):
        super().__init__(bus, PATH)
        self.log = log
        self.last_id = 0

    # byte_arrays: the icon's pixels come as one bytes object, not thousands of objects
    # made before the call is stamped.
    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u", byte_arrays=True)
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        now = time.time()
        self.log.write("%.6f\t%s | %s\n" % (now, summary, body.replace("\n", " | ")))
        self.last_id += 1
        return self.last_id

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"]

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("notification-recorder", "kingyo bench", "1.0", "1.2")

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, id):
        pass


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    with open(sys.argv[1], "a", buffering=1) as log:
        recorder = Recorder(bus, log)  # noqa: F841 (held while the loop runs)
        name = dbus.service.BusName(NAME, bus)  # noqa: F841
        print("ready", flush=True)
        GLib.MainLoop().run()


if __name__ == "__main__":
    main()
