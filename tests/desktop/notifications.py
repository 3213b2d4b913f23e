#!/usr/bin/python3
"""A stand-in for the desktop's notification service on the test's bus.

    notifications.py RECORD [RELAY_ADDRESS]

Owns org.freedesktop.Notifications and appends each Notify it is sent to
RECORD as one JSON line: {"app", "summary", "body"}. With RELAY_ADDRESS (a
bus where a real notification daemon runs) each one is also passed on there
as it came, so that the daemon draws it, for the README's pictures."""

import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg direction="in" type="s"/><arg direction="in" type="u"/><arg direction="in" type="s"/>
    <arg direction="in" type="s"/><arg direction="in" type="s"/><arg direction="in" type="as"/>
    <arg direction="in" type="a{sv}"/><arg direction="in" type="i"/><arg direction="out" type="u"/>
  </method>
  <method name="CloseNotification"><arg direction="in" type="u"/></method>
  <method name="GetCapabilities"><arg direction="out" type="as"/></method>
  <method name="GetServerInformation">
    <arg direction="out" type="s"/><arg direction="out" type="s"/>
    <arg direction="out" type="s"/><arg direction="out" type="s"/>
  </method>
</interface></node>"""


def main(record, relay_address=None):
    relay = None
    if relay_address:
        relay = Gio.DBusConnection.new_for_address_sync(
            relay_address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    sent = [0]

    def call(connection, sender, path, interface, method, params, invocation):
        if method == "Notify":
            app, _, _, summary, body = params.unpack()[:5]
            with open(record, "a") as f:
                f.write(json.dumps({"app": app, "summary": summary, "body": body}) + "\n")
            if relay:
                try:
                    relay.call_sync("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                    interface, method, params, None, Gio.DBusCallFlags.NONE, 5000, None)
                except GLib.Error as e:
                    print("not passed on: " + e.message, flush=True)
            sent[0] += 1
            invocation.return_value(GLib.Variant("(u)", (sent[0],)))
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "tarrovel tests", "1", "1.2")))
        else:
            invocation.return_value(None)

    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    bus.register_object("/org/freedesktop/Notifications", node.interfaces[0], call, None, None)
    loop = GLib.MainLoop()
    # The name is taken last, once calls can be answered; losing it ends
    # the stand-in, since the test would then record nothing.
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.Notifications",
                                   Gio.BusNameOwnerFlags.DO_NOT_QUEUE, None, lambda *a: loop.quit())
    loop.run()
    return 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
