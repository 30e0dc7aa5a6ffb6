#!/usr/bin/env python3
"""A small HTTP/1.1 file server that misbehaves on request, for what nginx will not do on purpose.

It serves the files of --root like a correct range server (200, 206 with Content-Range, 416),
keyed by scenario: the first segment of the request path names the scenario, and the JSON file
--rules/<scenario>.json, when present, lists rules checked in order for every request:

    {"rules": [{"when": {...}, "times": 3, <actions>}, ...]}

"when" (all given selectors must match): "request": n or [n, ...] (1-based count of the
scenario's requests), "range": the exact Range header or "none", "range_start" / "range_end":
numbers of a "bytes=a-b" header, "path_suffix": the request path ends with it. "times" limits how often a rule applies. The first matching
rule with uses left applies its actions:

    "status": n            answer n with a short body and nothing else
    "redirect": n, "location": address
                           answer n (301, 302, 303, 307, 308) with that Location, e.g. the
                           same file on nginx's port or on another host name of this server;
                           "{path}" in it stands for the request target
    "ignore_range": true   answer 200 with the whole body whatever the Range says
    "no_content_range": true, "total_star": true
                           a 206 without Content-Range, or with "*" as its total
    "no_length": true      no Content-Length: the body ends when the connection closes
    "drop_after": n        state the full length, send n body bytes, then close (FIN)
    "reset_after": n       the same, ending with a connection reset (RST)
    "stall": seconds       wait after the headers before the body
    "chunk": [bytes, seconds]  send the body in pieces with a pause after each
    "serve_file": name     answer with that file of the scenario's folder instead: the resource
                           changes between requests (and so do its ETag and Last-Modified)
    "shift_range": n       a 206 for the asked range moved n bytes on (Content-Range and body)
    "extra_bytes": n       a 206 whose body (and Content-Length) runs n bytes past its range
    "no_validator": true   neither ETag nor Last-Modified
    "silent": seconds      accept the request and say nothing at all for that long

Every file is served with a strong ETag (a hash of its bytes) and its Last-Modified date, and
If-Range is honoured: a Range whose If-Range names another version gets the whole file (200).

Every request is appended to --logs/<scenario>.log before it is answered, one line of
method, request target and Range header ("-" when absent), tab-separated, the same format as
the nginx access log of servers.sh. Standard library only.
"""
import argparse
import email.utils
import hashlib
import json
import os
import re
import socket
import struct
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

RANGE_RE = re.compile(r"^bytes=(\d+)-(\d*)$")


class Scenarios:
    """Request counters and rule uses per scenario, shared by the handler threads."""

    def __init__(self, rules_dir, logs_dir):
        self.rules_dir = rules_dir
        self.logs_dir = logs_dir
        self.lock = threading.Lock()
        self.counts = {}
        self.uses = {}

    def record(self, scenario, method, target, range_header):
        """Logs the request and returns its number within the scenario."""
        with self.lock:
            n = self.counts.get(scenario, 0) + 1
            self.counts[scenario] = n
            line = f"{method}\t{target}\t{range_header or '-'}\n"
            with open(os.path.join(self.logs_dir, scenario + ".log"), "a") as log:
                log.write(line)
            return n

    def rule_for(self, scenario, n, range_header, path=""):
        rules_file = os.path.join(self.rules_dir, scenario + ".json")
        try:
            with open(rules_file) as f:
                rules = json.load(f).get("rules", [])
        except (OSError, ValueError):
            return {}
        match = RANGE_RE.match(range_header or "")
        with self.lock:
            for index, rule in enumerate(rules):
                if not matches(rule.get("when", {}), n, range_header, match, path):
                    continue
                key = (scenario, index)
                if "times" in rule and self.uses.get(key, 0) >= rule["times"]:
                    continue
                self.uses[key] = self.uses.get(key, 0) + 1
                return rule
        return {}


def matches(when, n, range_header, match, path=""):
    if "request" in when:
        wanted = when["request"]
        if n not in (wanted if isinstance(wanted, list) else [wanted]):
            return False
    if "path_suffix" in when and not path.endswith(when["path_suffix"]):
        return False
    if "range" in when and when["range"] != (range_header or "none"):
        return False
    if "range_start" in when and (not match or int(match.group(1)) != when["range_start"]):
        return False
    if "range_end" in when and (not match or match.group(2) == ""
                                or int(match.group(2)) != when["range_end"]):
        return False
    return True


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvaloFaultServer/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        scenarios = self.server.scenarios
        target = self.path
        path = urllib.parse.unquote(urllib.parse.urlsplit(target).path)
        scenario = path.lstrip("/").split("/", 1)[0] or "_"
        range_header = self.headers.get("Range")
        n = scenarios.record(scenario, "GET", target, range_header)
        rule = scenarios.rule_for(scenario, n, range_header, path)

        if "silent" in rule:
            time.sleep(rule["silent"])
            self.close_connection = True
            return
        if "redirect" in rule:
            location = rule["location"].replace("{path}", target)
            self.answer(rule["redirect"], {"Location": location}, b"moved\n", rule)
            return
        if "status" in rule:
            self.answer(rule["status"], {}, b"status %d\n" % rule["status"], rule)
            return
        name = path.lstrip("/")
        if "serve_file" in rule:
            name = scenario + "/" + rule["serve_file"]
        file_path = os.path.normpath(os.path.join(self.server.root, name))
        if not file_path.startswith(self.server.root + os.sep) or not os.path.isfile(file_path):
            self.answer(404, {}, b"not found\n", rule)
            return
        with open(file_path, "rb") as f:
            body = f.read()
        size = len(body)
        validators = {}
        if not rule.get("no_validator"):
            validators["ETag"] = '"%s"' % hashlib.sha1(body).hexdigest()[:16]
            validators["Last-Modified"] = email.utils.formatdate(
                os.path.getmtime(file_path), usegmt=True)

        match = RANGE_RE.match(range_header or "")
        if_range = self.headers.get("If-Range")
        current = if_range is None or if_range in validators.values()
        if match and current and not rule.get("ignore_range"):
            start = int(match.group(1))
            end = int(match.group(2)) if match.group(2) else size - 1
            if start >= size:
                self.answer(416, {"Content-Range": f"bytes */{size}"}, b"", rule)
                return
            end = min(end, size - 1)
            shift = int(rule.get("shift_range", 0))
            start, end = min(start + shift, size - 1), min(end + shift, size - 1)
            headers = dict(validators)
            if not rule.get("no_content_range"):
                total = "*" if rule.get("total_star") else str(size)
                headers["Content-Range"] = f"bytes {start}-{end}/{total}"
            extra = int(rule.get("extra_bytes", 0))
            self.answer(206, headers, body[start:end + 1 + extra], rule)
            return
        self.answer(200, validators, body, rule)

    def answer(self, status, headers, body, rule):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        for name, value in headers.items():
            self.send_header(name, value)
        closing = bool(rule.get("no_length") or "drop_after" in rule or "reset_after" in rule)
        if not rule.get("no_length"):
            self.send_header("Content-Length", str(len(body)))
        if closing:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.flush()
        if "stall" in rule:
            time.sleep(rule["stall"])
        cut = rule.get("drop_after", rule.get("reset_after"))
        if cut is not None:
            body = body[:cut]
        try:
            self.send_body(body, rule.get("chunk"))
            if "reset_after" in rule:
                # Linger 0 makes close() send a reset instead of an orderly end.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            elif closing:
                self.connection.shutdown(socket.SHUT_WR)
        except OSError:
            self.close_connection = True

    def send_body(self, body, chunk):
        if not chunk:
            self.wfile.write(body)
            self.wfile.flush()
            return
        size, pause = int(chunk[0]), float(chunk[1])
        for offset in range(0, len(body), size):
            self.wfile.write(body[offset:offset + size])
            self.wfile.flush()
            time.sleep(pause)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--rules", required=True)
    parser.add_argument("--logs", required=True)
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.root = os.path.realpath(args.root)
    server.scenarios = Scenarios(args.rules, args.logs)
    # Written only once listening, so a reader of the port file can connect at once.
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
