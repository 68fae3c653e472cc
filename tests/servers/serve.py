#!/usr/bin/env python3
"""Runs a command with loopback test servers around it.

    serve.py [--nginx ROOT] [--fault ROOT] [--record] [--refuse] -- COMMAND ARGS...

Each server starts on 127.0.0.1 with a free port, its address reaches the command through
the environment, and every server is stopped when the command ends; the command's exit
code is returned. Windows test programs under Wine see the same environment.

    --nginx ROOT   VELM_NGINX_URL: nginx serving ROOT
    --fault ROOT   VELM_FAULT_URL and VELM_FAULT_LOG (and VELM_FAULT_LOG_WIN): ROOT served
                   with the faults that each request's query asks for (fault_server.py)
    --record       VELM_RECORD_URL and VELM_RECORD_LOG: a server that records every request
                   (one JSON line each; the log path is also given as a Windows path in
                   VELM_RECORD_LOG_WIN, Z: being Wine's drive for /)
    --refuse       VELM_REFUSE_URL: a loopback port on which nothing listens
"""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nginx_server import NginxServer, free_port  # noqa: E402
from recording_server import RecordingServer  # noqa: E402
from fault_server import FaultServer  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nginx", metavar="ROOT")
    parser.add_argument("--fault", metavar="ROOT")
    parser.add_argument("--record", action="store_true")
    parser.add_argument("--refuse", action="store_true")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given")

    env = dict(os.environ)
    servers = []
    work = tempfile.mkdtemp(prefix="velm-serve-")
    try:
        if args.nginx:
            servers.append(NginxServer(args.nginx).start())
            env["VELM_NGINX_URL"] = servers[-1].url
        if args.fault:
            log = os.path.join(work, "fault.jsonl")
            servers.append(FaultServer(args.fault, log).start())
            env["VELM_FAULT_URL"] = servers[-1].url
            env["VELM_FAULT_LOG"] = log
            env["VELM_FAULT_LOG_WIN"] = windows_path(log)
        if args.record:
            log = os.path.join(work, "record.jsonl")
            servers.append(RecordingServer(log).start())
            env["VELM_RECORD_URL"] = servers[-1].url
            env["VELM_RECORD_LOG"] = log
            env["VELM_RECORD_LOG_WIN"] = windows_path(log)
        if args.refuse:
            env["VELM_REFUSE_URL"] = f"http://127.0.0.1:{free_port()}"
        return subprocess.call(command, env=env)
    finally:
        for server in reversed(servers):
            server.stop()


if __name__ == "__main__":
    sys.exit(main())
