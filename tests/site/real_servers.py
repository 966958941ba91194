"""Real servers from Debian's packages, on loopback, for the end-to-end
scenarios that must hold against them as against the simulated site:
nginx as the patch server (HTTP) and as the sign-in service (HTTPS, with
the simulated site's test CA), serving static files only; squid as the
proxy the PCs are configured to use.

Unlike the simulated site, both answer as production servers do: nginx
sends Last-Modified and ETag, which makes its answers cacheable by WinINet
and by squid.
"""
import json
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time

NGINX = "/usr/sbin/nginx"
SQUID = "/usr/sbin/squid"
TICKET = "t-1"
PATCH_PREFIX = "/patches/KB835732/"


def wait_for_port(port, process, what, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"{what} ended at once (exit code {process.returncode})")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError(f"{what} did not listen on 127.0.0.1:{port} within {seconds} s")


def workplace(prefix):
    """A folder for a server's files that its unprivileged workers can
    reach whatever folder the tests run in (a checkout under /root is
    closed to them): under the system's temporary folder."""
    folder = tempfile.mkdtemp(prefix=prefix)
    os.chmod(folder, 0o755)
    return folder


def keep(work, record, names):
    """Copies a server's logs into the run's folder and drops its workplace."""
    os.makedirs(record, exist_ok=True)
    for name in names:
        if os.path.exists(os.path.join(work, name)):
            shutil.copyfile(os.path.join(work, name), os.path.join(record, os.path.basename(name)))
    shutil.rmtree(work, ignore_errors=True)


def stop(process, seconds=30):
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Server:
    """A server process working in a folder of its own (`state`, while it
    runs), whose logs are kept in the run's folder (`record`) once stopped."""

    LOGS = ()

    def __init__(self, record):
        self.record = record
        self.process = None
        self.state = None

    def begin(self, prefix):
        shutil.rmtree(self.record, ignore_errors=True)
        self.state = workplace(prefix)

    def stop(self):
        stop(self.process)
        self.process = None
        if self.state:
            keep(self.state, self.record, self.LOGS)
            self.state = None


class Nginx(Server):
    """The patch server on http_port and the sign-in service on https_port.
    With signin_page and return_page, the package is served only for the
    ticket the return page links to; without, it is served directly."""

    LOGS = ("logs/access.log", "logs/error.log", "logs/stderr.log", "nginx.conf")

    def __init__(self, record, certificate, key, http_port, https_port):
        super().__init__(record)
        self.certificate, self.key = certificate, key
        self.http_port, self.https_port = http_port, https_port

    def start(self, package_name, package_path, signin_page=None, return_page=None):
        self.begin("patcher-nginx-")
        patch_root = os.path.join(self.state, "patch")
        signin_root = os.path.join(self.state, "signin")
        os.makedirs(os.path.join(patch_root, PATCH_PREFIX.strip("/")))
        os.makedirs(signin_root)
        served = os.path.join(patch_root, PATCH_PREFIX.strip("/"), package_name)
        shutil.copyfile(package_path, served)
        # Put on the server a month ago, as a site's packages are: a proxy
        # takes an old file for fresh (squid: for a fifth of its age).
        month_ago = time.time() - 30 * 86400
        os.utime(served, (month_ago, month_ago))
        gate = ""
        if signin_page:
            with open(os.path.join(patch_root, "signin.htm"), "w", encoding="latin-1") as f:
                f.write(signin_page)
            with open(os.path.join(signin_root, "return.htm"), "w", encoding="latin-1") as f:
                f.write(return_page)
            # Static pages play the sign-in service: no ticket, the sign-in
            # page; the login URL, the return page; its ticket, the package.
            gate = f"""
            if ($arg_ticket = "") {{ rewrite ^ /signin.htm last; }}
            if ($arg_ticket != "{TICKET}") {{ return 403; }}"""
        for folder in ("logs", "temp"):
            os.makedirs(os.path.join(self.state, folder))
        log = os.path.join(self.state, "logs")
        config = f"""
worker_processes 1;
pid {log}/nginx.pid;
error_log {log}/error.log warn;
events {{ worker_connections 64; }}
http {{
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    # Each answer closes its connection, as the simulated site's do. Kept
    # alive, WinINet pools the connection and starts a thread to close it
    # later; under qemu-i386 emulation Wine's process then dies now and
    # then as that thread runs (measured: 2 runs of 3 of the sign-in route).
    keepalive_timeout 0;
    client_body_temp_path {self.state}/temp/body;
    proxy_temp_path {self.state}/temp/proxy;
    fastcgi_temp_path {self.state}/temp/fastcgi;
    uwsgi_temp_path {self.state}/temp/uwsgi;
    scgi_temp_path {self.state}/temp/scgi;
    log_format requests escape=json '{{"port": "$server_port", "request": "$request_uri", '
        '"agent": "$http_user_agent", "status": "$status", "bytes": "$body_bytes_sent", '
        '"pragma": "$http_pragma", "cache_control": "$http_cache_control", '
        '"if_modified_since": "$http_if_modified_since", "if_none_match": "$http_if_none_match"}}';
    access_log {log}/access.log requests;
    server {{
        listen 127.0.0.1:{self.http_port};
        root {patch_root};
        location {PATCH_PREFIX} {{{gate}
        }}
        location = /signin.htm {{ internal; default_type text/html; }}
    }}
    server {{
        listen 127.0.0.1:{self.https_port} ssl;
        server_name localhost;
        ssl_certificate {self.certificate};
        ssl_certificate_key {self.key};
        # As a sign-in service for the old PCs must: TLS 1.0 (they speak
        # nothing newer) and their SHA-1 certificates, which OpenSSL takes
        # only at its weakest level.
        ssl_protocols TLSv1 TLSv1.1 TLSv1.2 TLSv1.3;
        ssl_ciphers DEFAULT:@SECLEVEL=0;
        root {signin_root};
        location /login/ {{
            if ($args != "RT=rt-1;ST=st-1") {{ return 403; }}
            rewrite ^ /return.htm last;
        }}
        location = /return.htm {{ internal; default_type text/html; }}
    }}
}}
"""
        path = os.path.join(self.state, "nginx.conf")
        with open(path, "w", encoding="ascii") as f:
            f.write(config)
        # Readable by the workers, which give up root.
        for root, folders, files in os.walk(self.state):
            for name in folders + files:
                os.chmod(os.path.join(root, name), 0o755 if name in folders else 0o644)
        self.process = subprocess.Popen(
            [NGINX, "-p", self.state, "-c", path, "-g", "daemon off;"],
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(log, "stderr.log"), "w"))
        wait_for_port(self.http_port, self.process, "nginx")
        wait_for_port(self.https_port, self.process, "nginx")

    def requests(self):
        """What nginx answered, in the simulated site's form (server "patch"
        or "signin", path, query, agent) with the cache headers asked."""
        entries = []
        try:
            log = (os.path.join(self.state, "logs", "access.log") if self.state else
                   os.path.join(self.record, "access.log"))
            with open(log, encoding="utf-8") as f:
                for line in f:
                    entry = json.loads(line)
                    path, _, query = entry["request"].partition("?")
                    entry.update(path=path, query=query)
                    entry["server"] = "patch" if entry["port"] == str(self.http_port) else "signin"
                    entries.append(entry)
        except FileNotFoundError:
            pass
        return entries


class Squid(Server):
    """A caching proxy on `port`, its memory cache shared by every PC that
    uses it, allowed to tunnel to the sign-in service's port."""

    LOGS = ("access.log", "cache.log", "stderr.log", "squid.conf")

    def __init__(self, record, port, tunnel_ports):
        super().__init__(record)
        self.port, self.tunnel_ports = port, tunnel_ports

    def start(self):
        self.begin("patcher-squid-")
        hosts = os.path.join(self.state, "hosts")
        with open(hosts, "w", encoding="ascii") as f:
            f.write("127.0.0.1 localhost\n")
        ports = " ".join(str(p) for p in self.tunnel_ports)
        user = ""
        if os.geteuid() == 0:
            # squid will not run as root; it takes the proxy user's rights.
            user = "cache_effective_user proxy\n"
            proxy = pwd.getpwnam("proxy")
            os.chown(self.state, proxy.pw_uid, proxy.pw_gid)
        config = f"""
http_port 127.0.0.1:{self.port}
{user}pid_filename {self.state}/squid.pid
cache_log {self.state}/cache.log
access_log stdio:{self.state}/access.log squid
cache_store_log none
coredump_dir {self.state}
hosts_file {hosts}
cache_mem 64 MB
maximum_object_size_in_memory 16 MB
maximum_object_size 16 MB
# Packages do not change under their names: fresh for an hour, as a site
# would set it.
refresh_pattern . 60 20% 4320
acl SSL_ports port {ports}
acl CONNECT method CONNECT
http_access deny CONNECT !SSL_ports
http_access allow localhost
http_access deny all
shutdown_lifetime 1 seconds
# Connections closed after each answer, as nginx's (see there).
client_persistent_connections off
"""
        path = os.path.join(self.state, "squid.conf")
        with open(path, "w", encoding="ascii") as f:
            f.write(config)
        self.process = subprocess.Popen([SQUID, "-N", "-f", path], stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(self.state, "stderr.log"), "w"))
        wait_for_port(self.port, self.process, "squid", seconds=120)

    def log(self):
        """(result code, method, URL) of each request, as squid logged it."""
        entries = []
        try:
            log = os.path.join(self.state or self.record, "access.log")
            with open(log, encoding="utf-8") as f:
                for line in f:
                    fields = line.split()
                    # "-": the check that squid listens, which sends nothing.
                    if len(fields) >= 7 and fields[5] != "-":
                        entries.append((fields[3], fields[5], fields[6]))
        except FileNotFoundError:
            pass
        return entries
