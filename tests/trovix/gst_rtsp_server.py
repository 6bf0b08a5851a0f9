#!/usr/bin/python3
"""GStreamer's RTSP server for the tests: a live H.264 test pattern (x264enc)
sent as RTP, mounted at /test on 127.0.0.1. Prints the bound port on its
first line and serves until its standard input closes."""
import argparse
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--width", type=int, default=320)
    parser.add_argument("--height", type=int, default=240)
    parser.add_argument("--auth", choices=["none", "basic", "digest"], default="none")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="secret")
    args = parser.parse_args()

    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(
        "( videotestsrc is-live=true pattern=smpte ! "
        f"video/x-raw,width={args.width},height={args.height},framerate=30/1 ! "
        "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=30 ! "
        "rtph264pay name=pay0 pt=96 config-interval=1 )")
    factory.set_shared(True)
    if args.auth != "none":
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "user")
        if args.auth == "basic":
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        else:
            auth.add_digest(args.user, args.password, token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        server.set_auth(auth)
        factory.add_role_from_structure(Gst.Structure.new_from_string(
            "user, media.factory.access=(boolean)true, media.factory.construct=(boolean)true"))
    server.get_mount_points().add_factory("/test", factory)
    if server.attach(None) == 0:
        print("0", flush=True)
        return 1
    print(server.get_bound_port(), flush=True)

    loop = GLib.MainLoop()

    def on_stdin(source, condition):
        if condition & (GLib.IO_HUP | GLib.IO_ERR) or not sys.stdin.buffer.read1(1):
            loop.quit()
            return False
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_stdin)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
