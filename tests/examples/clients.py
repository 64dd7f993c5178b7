"""Real clients asking the example HTTP server, and the check of every answer against the model.

  clients.py ask --port P --raw-log F --server N --timeout-ms N --results R [--chromium PROGRAM]
                 [--chromium-skip WHY]
      asks the server with curl, Python's http.client and urllib, raw sockets (pipelined and odd
      requests) and headless Chromium over a fixed table of request targets, then checks each
      answer against model.py computed from the raw bytes the server logged for it; writes the
      per-client counts to R (JSON) and prints every failed check.
  clients.py summary --results R --checks C
      prints the closing table (one row per client, the server's own checks from C as one more
      row) and the line "N passed, N failed"; exits 1 when anything failed.

Each answer names its request (the body's "request", the X-Request-Number header), so the raw
bytes the server logged under that number are what the model reads.
"""

import argparse
import base64
import html
import http.client
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model  # noqa: E402

# ---- the request targets ------------------------------------------------------------------------

TARGETS = [
    # live: presets, every output, repetitions, leading separators, number grammar
    "/live",
    "/live?",
    "/live?server=2&device=1&framerate=29.97&timeout=30&features=4&sendtime=5&sendstate=6"
    "&cpid=7&slide_show=8",
    "/live?server=5&server=9&timeout=2&timeout=8",
    "/live??&&server=4&&device=6&",
    "/live?device=12abc&cpid=-0&features=%2B17&sendtime=+-3&sendstate=abc&slide_show=%20%2042",
    "/live?server=2147483647&device=2147483648&features=-2147483648&sendtime=-2147483649"
    "&cpid=99999999999999999999",
    "/live?timeout=2147483&sendstate=1",
    "/live?timeout=2147484",
    "/live?timeout=-2147484",
    "/live?timeout=99999999999",
    "/live?timeout=&device=",
    "/live?timeout=-0&framerate=-0",
    "/live?framerate=1e400",
    "/live?framerate=-1e400",
    "/live?framerate=1e-400",
    "/live?framerate=-1e-400",
    "/live?framerate=2.5d2&server=%33",
    "/live?framerate=.5e1",
    "/live?framerate=5.&device=",
    "/live?framerate=inf&server=0x10",
    "/live?framerate=+1.5E+3",
    "/live?framerate=12abc",
    "/live?framerate=1e&cpid=1e5",
    "/live?a=server=7&server==8&server=9=",
    "/live?Server=5&SERVER=6&server",
    "/live?x=1&server=%2D5&device=7%",
    # stream: the channel flag
    "/stream",
    "/stream?channel=R..&server=3&segment=12&sendstate=1&timeout=5&features=2&sendtime=9&cpid=11",
    "/stream?channel=r",
    "/stream?channel=x&channel=R",
    "/stream?channel=",
    "/stream?channel=%52ed",
    "/stream?channel=+R",
    "/stream?timeout=1e3&segment=12abc",
    "/stream?timeout=-0&server=-0",
    # camera: texts, decoding, cuts
    "/camera",
    "/camera?model=&camera=cam+1&device=%2Fdev%2Fvideo0&number=007&speed=-3.5&command=zoom%2Bin"
    "&button=%E2%9C%93",
    "/camera?model=a%00b&camera=100%&device=%4&number=%zz&speed=%41%42&command=%2541&button=%%41",
    "/camera?button=%C3%A9%FF%01%7F%22%5C%0A%09",
    "/camera?model=" + "A" * 1500,
    "/camera?camera=" + "%41" * 1100,
    "/camera?number=" + "x" * 1022 + "%C3%A9",
    "/camera?model==x&camera=a=b&device=d&device=e",
    "/camera?command=pan+left&speed=+&model=%2B",
    # clip: the media type and its sections, the media file, the burst's narrowing
    "/clip",
    "/clip?mediatype=V&features=1&sendtime=2&cpid=3",
    "/clip?features=1&sendtime=2&cpid=3&mediatype=a",
    "/clip?mediatype=x&features=5",
    "/clip?mediatype=Video&features=9&features=10",
    "/clip?mediatype=%76&cpid=4",
    "/clip?mediatype=&features=6",
    "/clip?mediatype=%41udio&sendtime=-7",
    "/clip?mediafile=" + "f" * 300,
    "/clip?mediafile=clips%2Fa+b.mp4&startmsec=100&stopmsec=2000&looping=1&width=640&height=480"
    "&quality=90&segment=3&channel=12abc",
    "/clip?doburst=1e39",
    "/clip?doburst=3.4028235e38",
    "/clip?doburst=3.4028236e38",
    "/clip?doburst=-1e39&framerate=1e400",
    "/clip?doburst=1e-50&framerate=-0",
    "/clip?doburst=0.1&framerate=23.976&channel=R",
    "/clip?mediafile=%00%41" + "%E2%82%AC" * 100,
    # paths no reader answers
    "/favicon.ico",
    "/",
    "/live/",
    "/LIVE?server=1",
    "/live%3Fserver=1",
]

# The keep-alive runs: several targets over one connection.
KEEP_ALIVE = ["/live?server=31", "/stream?channel=r", "/camera?model=m", "/clip?mediatype=v",
              "/nothing", "/live?cpid=32"]

# Other clients sent by http.client, each with its User-Agent.
USER_AGENTS = {
    "mOZILLA/5.0 test": ["/live?server=41", "/live", "/stream?channel=r"],
    "NotMozilla/1.0": ["/live?server=42"],
    "Mozilla": ["/live?server=43"],
}

CHROMIUM_TARGETS = [
    "/live?server=21&framerate=1e400",
    "/stream?channel=r&timeout=12abc",
    "/camera?model=%C3%A9+%00&button='ok'",
    "/clip?mediatype=v&features=3&mediafile=a%2Fb",
]

CLIENT_SECONDS = 10  # each request of curl and the Python clients
CHROMIUM_SECONDS = 60


class Answer:
    """One answer a client received (or the failure to receive it)."""

    def __init__(self, client, target, status=None, headers=None, body=None, problem=None):
        self.client = client
        self.target = target  # the target as sent, None when the client may rewrite it
        self.status = status
        self.headers = headers  # lower-case names, None when the client does not show them
        self.body = body  # bytes, None when the client got none
        self.problem = problem  # why there is no answer

    def number(self):
        if self.headers and "x-request-number" in self.headers:
            return int(self.headers["x-request-number"])
        if self.body:
            m = re.match(rb'\{"request":([0-9]+)', self.body)
            if m:
                return int(m.group(1))
        return None


# ---- the clients --------------------------------------------------------------------------------

def ask_curl(base, targets, work):
    answers = []
    for target in targets:
        body_file, head_file = os.path.join(work, "body"), os.path.join(work, "head")
        try:
            done = subprocess.run(
                ["timeout", str(CLIENT_SECONDS), "curl", "-s", "-g", "--path-as-is",
                 "--max-time", str(CLIENT_SECONDS - 2), "-o", body_file, "-D", head_file,
                 "-w", "%{http_code}", base + target],
                capture_output=True, check=False)
        except OSError as e:
            answers.append(Answer("curl", target, problem=f"cannot run curl: {e}"))
            continue
        if done.returncode != 0:
            answers.append(Answer("curl", target, problem=f"curl exited {done.returncode}"))
            continue
        with open(head_file, "rb") as f:
            headers = parse_headers(f.read())
        with open(body_file, "rb") as f:
            body = f.read()
        answers.append(Answer("curl", target, int(done.stdout), headers, body))
    return answers


def ask_curl_keep_alive(base, targets, work):
    """One curl for several URLs: it keeps the connection, so only the first one connects."""
    command = ["timeout", str(CLIENT_SECONDS), "curl", "-s", "-g", "--path-as-is",
               "-w", "%{http_code} %{num_connects}\\n"]
    files = []
    for i, target in enumerate(targets):
        files.append(os.path.join(work, f"keep{i}"))
        command += ["-o", files[-1], base + target]
    done = subprocess.run(command, capture_output=True, check=False)
    lines = done.stdout.decode().split()
    answers = []
    for i, target in enumerate(targets):
        if done.returncode != 0 or len(lines) != 2 * len(targets):
            answers.append(Answer("curl keep-alive", target,
                                  problem=f"curl exited {done.returncode}: {lines}"))
            continue
        status, connects = int(lines[2 * i]), int(lines[2 * i + 1])
        with open(files[i], "rb") as f:
            body = f.read()
        answer = Answer("curl keep-alive", target, status, None, body)
        if connects != (1 if i == 0 else 0):
            answer.problem = f"{connects} new connections for request {i + 1} of one run"
        answers.append(answer)
    return answers


def parse_headers(block):
    """The header fields of the last answer's header block (curl -D may hold several)."""
    text = block.decode("latin-1").replace("\r\n", "\n").strip("\n").split("\n\n")[-1]
    headers = {}
    for line in text.split("\n")[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers[name.strip().lower()] = value.strip()
    return headers


def ask_http_client(port, targets, client, user_agent=None):
    """http.client over one connection; it sends no User-Agent unless given one."""
    answers = []
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=CLIENT_SECONDS)
    try:
        for target in targets:
            headers = {"User-Agent": user_agent} if user_agent else {}
            try:
                connection.request("GET", target, headers=headers)
                response = connection.getresponse()
                body = response.read()
                answers.append(Answer(client, target, response.status,
                                      {k.lower(): v for k, v in response.getheaders()}, body))
            except (OSError, http.client.HTTPException) as e:
                answers.append(Answer(client, target, problem=f"{type(e).__name__}: {e}"))
                connection.close()
    finally:
        connection.close()
    return answers


def ask_http_client_methods(port):
    """HEAD (no body, the connection stays) and POST with a body (405, the connection closes)."""
    answers = []
    for method, body in (("HEAD", None), ("POST", b"hello")):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=CLIENT_SECONDS)
        try:
            connection.request(method, "/live?server=51", body=body)
            response = connection.getresponse()
            data = response.read()
            answers.append(Answer("python http.client", "/live?server=51", response.status,
                                  {k.lower(): v for k, v in response.getheaders()},
                                  data if method != "HEAD" else None))
        except (OSError, http.client.HTTPException) as e:
            answers.append(Answer("python http.client", "/live?server=51",
                                  problem=f"{method}: {type(e).__name__}: {e}"))
        finally:
            connection.close()
    return answers


def ask_urllib(base, targets):
    answers = []
    for target in targets:
        try:
            with urllib.request.urlopen(base + target, timeout=CLIENT_SECONDS) as response:
                answers.append(Answer("python urllib", target, response.status,
                                      {k.lower(): v for k, v in response.getheaders()},
                                      response.read()))
        except urllib.error.HTTPError as e:
            answers.append(Answer("python urllib", target, e.code,
                                  {k.lower(): v for k, v in e.headers.items()}, e.read()))
        except (OSError, http.client.HTTPException) as e:
            answers.append(Answer("python urllib", target, problem=f"{type(e).__name__}: {e}"))
    return answers


def read_answers(sock, count, heads=()):
    """Reads `count` answers from the socket (those whose index is in heads have no body);
    returns (answers as (status, headers, body)) and whether the server closed afterwards."""
    data = b""
    answers = []
    while len(answers) < count:
        end = data.find(b"\r\n\r\n")
        if end < 0:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
            continue
        head = data[:end].decode("latin-1")
        lines = head.split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, value = line.split(":", 1)
            headers[name.strip().lower()] = value.strip()
        length = 0 if len(answers) in heads else int(headers.get("content-length", "0"))
        while len(data) < end + 4 + length:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
        body = data[end + 4:end + 4 + length]
        data = data[end + 4 + length:]
        answers.append((int(lines[0].split(" ")[1]), headers,
                        None if len(answers) in heads else body))
    closed = False
    if len(answers) == count and not data:
        sock.settimeout(0.5)
        try:
            closed = sock.recv(1) == b""
        except socket.timeout:
            closed = False
        except OSError:
            closed = True
    return answers, closed


# Raw requests: (what it shows, the bytes sent in one write, the targets, whether the server
# must close the connection after the last answer).
def raw_requests():
    pipelined = (b"GET /live?server=11 HTTP/1.1\r\nHost: x\r\nuser-agent:   Mozilla/4.0\r\n\r\n"
                 b"GET /stream?channel=R HTTP/1.1\r\nHost: x\r\nUser-Agent:\tmozillaX\r\n\r\n")
    big_head = b"GET /live?x=1 HTTP/1.1\r\nX-Big: "
    many = b"".join(b"GET /live?cpid=%d HTTP/1.1\r\nHost: x\r\n\r\n" % i for i in range(40))
    return [
        ("two pipelined requests in one write", pipelined,
         ["/live?server=11", "/stream?channel=R"], False),
        ("40 pipelined requests in one write", many,
         ["/live?cpid=%d" % i for i in range(40)], False),
        ("a User-Agent word inside another header",
         b"GET /live?cpid=1 HTTP/1.1\r\nReferer: http://x/ User-Agent: Mozilla/5.0\r\n"
         b"User-Agent: curl/8\r\nConnection: close\r\n\r\n", ["/live?cpid=1"], True),
        ("User-Agent: without a blank before the client",
         b"GET /live?server=1 HTTP/1.1\r\nUser-Agent:Mozilla/5.0\r\nAccept: */*\r\n\r\n",
         ["/live?server=1"], False),
        ("a NUL in the header block ends the reader's text",
         b"GET /live?server=12 HTTP/1.1\r\nX-Junk: a\0b\r\nUser-Agent: Mozilla/5.0\r\n\r\n",
         ["/live?server=12"], False),
        ("HTTP/1.0 without keep-alive", b"GET /stream?server=13 HTTP/1.0\r\n\r\n",
         ["/stream?server=13"], True),
        ("HTTP/1.0 with keep-alive",
         b"GET /stream?server=14 HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n",
         ["/stream?server=14"], False),
        ("no method", b"BREW\r\n\r\n", [None], True),
        ("an empty target", b"GET  HTTP/1.1\r\n\r\n", [None], True),
        ("a header block that fills the receive buffer",
         big_head + b"a" * (16384 - len(big_head)), [None], True),
        ("a header block beyond the receive buffer, sent in one write",
         big_head + b"a" * 40000, [None], True),
        ("a POST with a large body", b"POST /clip?cpid=2 HTTP/1.1\r\nContent-Length: 100000\r\n"
         b"\r\n" + b"x" * 100000, ["/clip?cpid=2"], True),
    ]


def ask_raw(port):
    answers = []
    for what, data, targets, closes in raw_requests():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=CLIENT_SECONDS) as sock:
                sock.sendall(data)
                got, closed = read_answers(sock, len(targets))
        except OSError as e:
            answers.append(Answer("python raw socket", targets[0], problem=f"{what}: {e}"))
            continue
        if len(got) != len(targets):
            answers.append(Answer("python raw socket", targets[0],
                                  problem=f"{what}: {len(got)} answers of {len(targets)}"))
            continue
        for i, (status, headers, body) in enumerate(got):
            answer = Answer("python raw socket", targets[i], status, headers, body)
            if i == len(got) - 1 and closed != closes:
                answer.problem = f"{what}: the server {'did not close' if closes else 'closed'}" \
                                 " the connection"
            answers.append(answer)
    return answers


def ask_chromium(base, work, program):
    """Headless Chromium's --dump-dom of each target; returns (answers, why it was skipped)."""
    answers = []
    for i, target in enumerate(CHROMIUM_TARGETS):
        profile = tempfile.mkdtemp(dir=work, prefix="chromium-")
        try:
            done = subprocess.run(
                ["timeout", str(CHROMIUM_SECONDS), program, "--headless",
                 "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", f"--user-data-dir={profile}", "--dump-dom", base + target],
                capture_output=True, check=False)
        except OSError as e:
            return [], f"cannot start {program}: {e}"
        finally:
            shutil.rmtree(profile, ignore_errors=True)
        m = re.search(rb"<pre[^>]*>(.*?)</pre>", done.stdout, re.S)
        if m is None:
            if i == 0:
                last = done.stderr.decode(errors="replace").strip().splitlines()[-1:]
                return [], f"it did not start or show a page (exit {done.returncode})" + \
                    (f": {last[0][:200]}" if last else "")
            answers.append(Answer("chromium", None, problem=f"no page for {target}"))
            continue
        text = html.unescape(m.group(1).decode("utf-8", errors="surrogateescape"))
        answers.append(Answer("chromium", None, 200, None,
                              text.encode("utf-8", errors="surrogateescape")))
    return answers, None


# ---- the checks ---------------------------------------------------------------------------------

def read_raw_log(path):
    entries = {}
    duplicates = []
    with open(path, "rb") as f:
        for line in f:
            number, _, data = line.strip().partition(b" ")
            n = int(number)
            if n in entries:
                duplicates.append(n)
            entries[n] = base64.b64decode(data)
    return entries, duplicates


def user_agent_of(raw):
    m = re.search(rb"\r\nuser-agent:[ \t]*([^\r\n]*)", raw, re.I)
    return m.group(1).decode("latin-1") if m else "(none)"


def check(answer, raw_log, server, timeout_ms, chromium_text=False):
    """The problems of one answer, empty when it is what the model says."""
    problems = [answer.problem] if answer.problem else []
    if answer.status is None:
        return problems
    number = answer.number()
    if number is None:
        return problems + ["the answer names no request"]
    if number not in raw_log:
        return problems + [f"request {number} is not in the raw log"]
    raw = raw_log[number]
    if answer.target is not None:
        first_line = raw.split(b"\r\n", 1)[0].split(b" ")
        if len(first_line) < 2 or first_line[1].decode("latin-1") != answer.target:
            problems.append(f"the raw log holds {raw[:60]!r} for target {answer.target[:60]!r}")
    want = model.expected(raw, number, server, timeout_ms)
    if answer.status != want.status:
        problems.append(f"status {answer.status}, the model says {want.status}")
    if answer.headers is not None:
        if answer.headers.get("connection", "").lower() != want.connection:
            problems.append(f"Connection: {answer.headers.get('connection')}, "
                            f"the model says {want.connection}")
        if answer.headers.get("content-type") != "application/json":
            problems.append(f"Content-Type: {answer.headers.get('content-type')}")
        if answer.body is not None and \
                answer.headers.get("content-length") != str(len(answer.body)):
            problems.append(f"Content-Length {answer.headers.get('content-length')} for "
                            f"{len(answer.body)} bytes")
    if want.body is None:
        if answer.body:
            problems.append("a body where none belongs")
        return problems
    body = answer.body or b""
    if not chromium_text and (not body.endswith(b"\n") or body.count(b"\n") != 1):
        problems.append("the body is not one line")
    try:
        got = model.parse_answer(body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        return problems + [f"the body is not JSON: {e}: {body[:80]!r}"]
    return problems + model.differences(want.body, got)


def ask(args):
    base = f"http://127.0.0.1:{args.port}"
    work = tempfile.mkdtemp(prefix="tovarine-clients-")
    runs = []  # (client name, answers)
    try:
        runs.append(("curl", ask_curl(base, TARGETS, work)))
        runs.append(("curl keep-alive", ask_curl_keep_alive(base, KEEP_ALIVE, work)))
        client_answers = ask_http_client(args.port, TARGETS + KEEP_ALIVE, "python http.client")
        client_answers += ask_http_client_methods(args.port)
        runs.append(("python http.client", client_answers))
        for user_agent, targets in USER_AGENTS.items():
            runs.append((f"python http.client ({user_agent})",
                         ask_http_client(args.port, targets,
                                         f"python http.client ({user_agent})", user_agent)))
        runs.append(("python urllib", ask_urllib(base, TARGETS)))
        runs.append(("python raw socket", ask_raw(args.port)))
        skipped = args.chromium_skip
        if not skipped:
            answers, skipped = ask_chromium(base, work, args.chromium)
            if not skipped:
                runs.append(("chromium", answers))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    time.sleep(0.2)  # the raw log is flushed line by line; nothing is pending by now
    raw_log, duplicates = read_raw_log(args.raw_log)
    results = {"clients": [], "chromium_skipped": skipped, "failures": []}
    answered = set()
    for name, answers in runs:
        passed = failed = 0
        agents = []
        for answer in answers:
            problems = check(answer, raw_log, args.server, args.timeout_ms,
                             chromium_text=name == "chromium")
            number = answer.number()
            if number is not None:
                if number in answered:
                    problems.append(f"request number {number} answered twice")
                answered.add(number)
                if number in raw_log:
                    agent = user_agent_of(raw_log[number])
                    if agent not in agents:
                        agents.append(agent)
            if problems:
                failed += 1
                results["failures"].append(
                    f"{name} {answer.target or ''} (request {number}): " + "; ".join(problems))
            else:
                passed += 1
        results["clients"].append({"name": name, "user_agents": agents,
                                   "requests": len(answers), "passed": passed,
                                   "failed": failed})

    # Every request logged once: the numbers run from 1 without a gap or a repetition, and
    # each belongs to an answer a client checked, except what Chromium asked of its own accord.
    passed = failed = 0
    numbers = sorted(raw_log)
    problems = []
    if duplicates:
        problems.append(f"numbers logged twice: {duplicates}")
    if numbers != list(range(1, len(numbers) + 1)):
        problems.append("the raw log's numbers are not 1 to N")
    unanswered = [n for n in numbers if n not in answered]
    for n in unanswered:
        raw = raw_log[n]
        if not (raw.startswith(b"GET /favicon.ico ") and b"HeadlessChrome" in raw):
            problems.append(f"request {n} logged but no client got its answer: {raw[:60]!r}")
    if problems:
        failed = 1
        results["failures"] += ["raw log: " + p for p in problems]
    else:
        passed = 1
    results["clients"].append({"name": "raw log (each request once)",
                               "user_agents": [f"{len(numbers)} entries"],
                               "requests": len(numbers), "passed": passed, "failed": failed})
    with open(args.results, "w") as f:
        json.dump(results, f, indent=1)
    for failure in results["failures"]:
        print("FAILED: " + failure)
    return 0


def summary(args):
    with open(args.results) as f:
        results = json.load(f)
    rows = [(c["name"], ", ".join(c["user_agents"]) or "-", str(c["requests"]),
             str(c["passed"]), str(c["failed"])) for c in results["clients"]]
    if results.get("chromium_skipped"):
        rows.append(("chromium", "SKIPPED: " + results["chromium_skipped"], "0", "0", "0"))
    server_passed = server_failed = 0
    if args.checks and os.path.exists(args.checks):
        with open(args.checks) as f:
            for line in f:
                verdict, _, what = line.rstrip("\n").partition("\t")
                if verdict == "PASS":
                    server_passed += 1
                else:
                    server_failed += 1
                    print(f"FAILED: server: {what}")
    rows.append(("server (settings, signals, logs)", "-", "-", str(server_passed),
                 str(server_failed)))
    header = ("client", "User-Agent sent", "requests", "passed", "failed")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(5)]
    widths[1] = min(widths[1], 60)
    for row in [header] + rows:
        cells = [row[i][:widths[i]].ljust(widths[i]) if i < 2 else row[i].rjust(widths[i])
                 for i in range(5)]
        print("  ".join(cells).rstrip())
    total_passed = sum(int(r[3]) for r in rows)
    total_failed = sum(int(r[4]) for r in rows)
    print(f"{total_passed} passed, {total_failed} failed")
    return 1 if total_failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    a = commands.add_parser("ask")
    a.add_argument("--port", type=int, required=True)
    a.add_argument("--raw-log", required=True)
    a.add_argument("--server", type=int, required=True)
    a.add_argument("--timeout-ms", type=int, required=True)
    a.add_argument("--results", required=True)
    a.add_argument("--chromium", default="/usr/bin/chromium")
    a.add_argument("--chromium-skip", default="")
    s = commands.add_parser("summary")
    s.add_argument("--results", required=True)
    s.add_argument("--checks")
    args = parser.parse_args()
    return ask(args) if args.command == "ask" else summary(args)


if __name__ == "__main__":
    sys.exit(main())
