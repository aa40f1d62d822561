#!/usr/bin/env python3
"""The nginx configuration of the end-to-end tests and the benchmarks, in
one place: one worker in the foreground, everything it writes below its
folder, sendfile, and a plain server on 127.0.0.1:<port> serving <root>,
followed by the extra server blocks given.

  nginx_conf.py <folder> <root> <port> [server blocks]   (prints it)
"""

import os
import sys


def nginx_conf(folder, root, port, servers="", access_log=None):
    """The configuration text; `access_log` names the file that gets one
    "METHOD URI STATUS BYTES" line per request (none without it)."""
    user = "user root root;\n" if os.geteuid() == 0 else ""
    temp = os.path.join(folder, "tmp")
    os.makedirs(temp, exist_ok=True)
    log = f"access_log {access_log} plain;" if access_log else "access_log off;"
    return f"""{user}daemon off;
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
events {{ worker_connections 64; }}
http {{
    default_type application/octet-stream;
    types {{ text/plain txt; text/csv csv; }}
    log_format plain '$request_method $uri $status $body_bytes_sent';
    {log}
    client_body_temp_path {temp}/body;
    proxy_temp_path {temp}/proxy;
    fastcgi_temp_path {temp}/fastcgi;
    uwsgi_temp_path {temp}/uwsgi;
    scgi_temp_path {temp}/scgi;
    sendfile on;
    keepalive_timeout 30;
    server {{ listen 127.0.0.1:{port}; root {root}; }}
{servers}}}
"""


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    sys.stdout.write(nginx_conf(*sys.argv[1:4], servers=sys.argv[4] if len(sys.argv) == 5 else ""))
