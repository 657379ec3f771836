#!/usr/bin/python3
"""An RTSP server for Kavrel's tests and demonstrations, on GStreamer's rtsp-server.

Serves every *.h264 / *.h265 elementary stream of a folder (see make_clips.sh), each
at /<file name without extension>, in a loop at the stream's own frame rate, as RTP
(over UDP or interleaved in the RTSP connection, as the client asks). Parameter sets
travel in-band before every key frame as well as in the SDP.

It listens on 127.0.0.1 only and prints "ready <port>" once it does. Controls, one
command a line on stdin (each acknowledged by a line on stdout once in effect):
  away [SECONDS]  close every client and stop listening (connects are refused, the
                  port stays held); "away". With SECONDS, listens again after them.
  back            listen again on the same port; "back <port>".
  stop            keep every connection and session, but send no more media; "stopped".
  resume          send media again; "sending".
  quit            end; "bye".
Events on stdout as well: "connected <ip>:<port>" for each connection accepted,
"playing <path>" for each PLAY, "closed" for each connection closed.
SIGUSR1 is "away" for --away-seconds, SIGUSR2 toggles stop / resume, SIGTERM and
SIGINT end it: for use from a terminal.

Must run with the system's python3 (/usr/bin/python3), which has python3-gi.
"""

import argparse
import ctypes
import os
import signal
import socket
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gio, Gst, GstRtsp, GstRtspServer  # noqa: E402

CODECS = {
    ".h264": ("h264parse", "rtph264pay"),
    ".264": ("h264parse", "rtph264pay"),
    ".h265": ("h265parse", "rtph265pay"),
    ".265": ("h265parse", "rtph265pay"),
    ".hevc": ("h265parse", "rtph265pay"),
}


def say(line):
    # Tests wait for these lines: one write, flushed at once.
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def note(line):
    sys.stderr.write("rtsp_server: " + line + "\n")
    sys.stderr.flush()


def launch_line(path):
    parse, pay = CODECS[os.path.splitext(path)[1].lower()]
    location = path.replace("\\", "\\\\").replace('"', '\\"')
    # The parser stamps each access unit with a decoding time from the stream's
    # frame rate, on and on across the loop. clocksync holds each one until its
    # time, before the payloader, so that media dropped while stopped (see
    # on_media_data) keeps the pace too and comes back on time when resumed.
    return (
        f'( multifilesrc location="{location}" loop=true ! {parse} name=parse ! clocksync ! '
        f"{pay} name=pay0 pt=96 config-interval=-1 )"
    )


class Server:
    def __init__(self, args):
        self.args = args
        self.sending = True
        self.away_timer = 0
        self.watch = 0
        self.away = False
        self.server = GstRtspServer.RTSPServer()
        mounts = self.server.get_mount_points()
        for path, clip in self.mounts(args):
            factory = GstRtspServer.RTSPMediaFactory()
            factory.set_launch(launch_line(clip))
            factory.set_shared(False)
            factory.connect("media-configure", self.on_media_configure)
            if args.user is not None:
                permissions = GstRtspServer.RTSPPermissions()
                permissions.add_role_from_structure(
                    Gst.Structure.new_from_string(
                        "user, media.factory.access=(boolean)true, "
                        "media.factory.construct=(boolean)true"
                    )
                )
                factory.set_permissions(permissions)
            mounts.add_factory(path, factory)
            note(f"{path} serves {clip}")
        if args.user is not None:
            self.server.set_auth(self.make_auth(args))
        self.server.connect("client-connected", self.on_client)
        # The listening socket is ours, not the library's: going away must keep
        # the port (so that nobody else takes it meanwhile) while refusing connects.
        self.listener = self.bound_socket(args.port)
        self.port = self.listener.getsockname()[1]

    @staticmethod
    def mounts(args):
        found = []
        if args.clips:
            for name in sorted(os.listdir(args.clips)):
                stem, ext = os.path.splitext(name)
                if ext.lower() in CODECS:
                    found.append(("/" + stem, os.path.join(args.clips, name)))
        for item in args.mount or []:
            path, sep, clip = item.partition("=")
            if not sep or not path.startswith("/") or os.path.splitext(clip)[1].lower() not in CODECS:
                raise SystemExit(f"rtsp_server: bad --mount {item!r} (want /PATH=FILE.h264|.h265)")
            found.append((path, clip))
        if not found:
            raise SystemExit("rtsp_server: nothing to serve (give --clips DIR or --mount)")
        return found

    @staticmethod
    def make_auth(args):
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, "user")
        if args.auth == "digest":
            auth.add_digest(args.user, args.password, token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        else:
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        return auth

    def on_client(self, _server, client):
        client.connect("play-request", self.on_play)
        client.connect("closed", lambda _client: say("closed"))

    @staticmethod
    def on_play(_client, context):
        say(f"playing {context.uri.abspath}")

    def on_media_configure(self, _factory, media):
        pipeline = media.get_element()
        pipeline.get_by_name("parse").get_static_pad("src").add_probe(
            Gst.PadProbeType.BUFFER, self.on_access_unit
        )
        pay = pipeline.get_by_name("pay0")
        pay.get_static_pad("src").add_probe(
            Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, self.on_media_data
        )

    @staticmethod
    def on_access_unit(_pad, info):
        # The parser gives only decoding times after the first access unit; the
        # payloader stamps RTP with presentation times. The clips have no
        # B-frames, so the two are the same.
        buffer = info.get_buffer()
        if buffer.pts == Gst.CLOCK_TIME_NONE:
            buffer.pts = buffer.dts
        return Gst.PadProbeReturn.OK

    def on_media_data(self, _pad, _info):
        # Runs on streaming threads; a plain bool read is enough here.
        return Gst.PadProbeReturn.OK if self.sending else Gst.PadProbeReturn.DROP

    # Listening

    @staticmethod
    def bound_socket(port):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        listener.setblocking(False)
        return listener

    def listen(self):
        if self.away:
            # A socket that left the listening state cannot listen again, but
            # while it holds the port another one may bind it (both reuse it).
            listener = self.bound_socket(self.port)
            self.listener.close()
            self.listener = listener
            self.away = False
        self.listener.listen(16)
        self.watch = GLib.io_add_watch(self.listener.fileno(), GLib.PRIORITY_DEFAULT,
                                       GLib.IO_IN, self.on_connect)

    def on_connect(self, _fd, _condition):
        try:
            connection, (ip, port) = self.listener.accept()
        except (BlockingIOError, InterruptedError):
            return True
        connection.setblocking(False)
        client = Gio.Socket.new_from_fd(connection.detach())
        say(f"connected {ip}:{port}")
        if not self.server.transfer_connection(client, ip, port, None):
            note(f"could not take the connection from {ip}:{port}")
        return True

    def go_away(self, seconds):
        if self.watch:
            GLib.source_remove(self.watch)
            self.watch = 0
            # Leaves the listening state but keeps the port bound: a connect is
            # refused now, and nobody else can take the port meanwhile.
            self.listener.shutdown(socket.SHUT_RD)
            self.away = True
            # As a camera that restarts: every connection and every session
            # (with its media, also what it sends over UDP) ends.
            self.server.client_filter(lambda *_: GstRtspServer.RTSPFilterResult.REMOVE, None)
            self.server.get_session_pool().filter(
                lambda *_: GstRtspServer.RTSPFilterResult.REMOVE, None
            )
        if self.away_timer:
            GLib.source_remove(self.away_timer)
            self.away_timer = 0
        if seconds is not None:
            self.away_timer = GLib.timeout_add(int(seconds * 1000), self.on_away_over)
        say("away")

    def on_away_over(self):
        self.away_timer = 0
        self.come_back()
        return False

    def come_back(self):
        if self.away_timer:
            GLib.source_remove(self.away_timer)
            self.away_timer = 0
        if not self.watch:
            self.listen()
        say(f"back {self.port}")

    # Controls

    def command(self, line):
        words = line.split()
        if not words:
            return
        if words[0] == "away":
            try:
                seconds = float(words[1]) if len(words) > 1 else None
            except ValueError:
                note(f"not a number of seconds: {words[1]!r}")
                return
            self.go_away(seconds)
        elif words[0] == "back":
            self.come_back()
        elif words[0] == "stop":
            self.sending = False
            say("stopped")
        elif words[0] == "resume":
            self.sending = True
            say("sending")
        elif words[0] == "quit":
            self.quit()
        else:
            note(f"unknown command {line.strip()!r}")

    def on_stdin(self, channel, condition):
        if condition & GLib.IO_IN:
            line = channel.readline()
            if line:
                self.command(line)
                return True
        return False  # end of input: controls end, serving goes on

    def quit(self):
        say("bye")
        self.loop.quit()

    def run(self):
        self.loop = GLib.MainLoop()
        # A session pool without cleanup keeps timed-out sessions forever.
        GLib.timeout_add_seconds(2, lambda: self.server.get_session_pool().cleanup() >= 0)
        stdin = GLib.IOChannel.unix_new(sys.stdin.fileno())
        GLib.io_add_watch(stdin, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, self.on_stdin)
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1,
                             lambda: self.go_away(self.args.away_seconds) or True)
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR2,
                             lambda: self.command("resume" if not self.sending else "stop") or True)
        for number in (signal.SIGTERM, signal.SIGINT):
            GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, lambda: self.quit() or False)
        self.listen()
        say(f"ready {self.port}")
        self.loop.run()


def die_with_parent():
    # A test that crashes must not leave a server behind (Linux only; best effort).
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, required=True, help="TCP port; 0 for a free one")
    parser.add_argument("--clips", help="serve every *.h264 / *.h265 of this folder at /NAME")
    parser.add_argument("--mount", action="append", metavar="/PATH=FILE",
                        help="serve FILE (.h264 or .h265) at /PATH; may repeat")
    parser.add_argument("--user", help="require this user name (with --password)")
    parser.add_argument("--password", help="the user's password")
    parser.add_argument("--auth", choices=("basic", "digest"), default="digest",
                        help="how the password is asked for (default: digest)")
    parser.add_argument("--away-seconds", type=float, default=5.0,
                        help="how long SIGUSR1 makes it go away (default 5)")
    args = parser.parse_args()
    if (args.user is None) != (args.password is None):
        parser.error("--user and --password go together")
    die_with_parent()
    Gst.init(None)
    try:
        server = Server(args)
    except OSError as error:
        raise SystemExit(f"rtsp_server: cannot listen on 127.0.0.1:{args.port}: {error.strerror}")
    server.run()


if __name__ == "__main__":
    main()
