"""The panel started with --connect opens the Ethernet link to that address and port: a
listener on a free loopback port hears the panel's first lines, "?" and "Status".

Usage: check_panel_connect.py PANEL
"""
import os
import socket
import subprocess
import sys
import tempfile


def main():
    panel = sys.argv[1]
    with socket.socket() as listener, tempfile.TemporaryDirectory() as scratch:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(60)
        port = listener.getsockname()[1]
        env = dict(os.environ, XDG_CONFIG_HOME=scratch, QT_QPA_PLATFORM="offscreen")
        with subprocess.Popen([panel, "--connect", f"127.0.0.1:{port}"], env=env) as process:
            try:
                client, _ = listener.accept()
                client.settimeout(60)
                heard = b""
                while b"Status\r\n" not in heard:
                    chunk = client.recv(256)
                    if not chunk:
                        break
                    heard += chunk
                client.close()
            finally:
                process.terminate()
        if not heard.startswith(b"?\r\nStatus\r\n"):
            sys.exit(f"the panel's first lines were {heard[:40]!r}, not '?' and 'Status'")
    print(f"korvane-panel --connect 127.0.0.1:{port} connected and asked '?' and 'Status'")


if __name__ == "__main__":
    main()
