"""What the example HTTP server must answer to one request, computed from the request's raw bytes.

An independent model of the server and of the library's request readers, written from their
documented rules (the host guide's request readers and "What bad input gets", the comments of the
readers' field tables, conversions and header scan); it neither loads the library nor calls the
tool. expected(raw, presets) gives the status, the answer's JSON members (None for an answer
without a body) and the connection header the server should send.

The reader's text is the request from the target's "?" (or, without one, from the blank after the
path) to the end of the header block, up to its first NUL.
"""

import math
import re
import struct

INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1
FLT_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
# From here on a double rounds to the float infinity: halfway between FLT_MAX and 2**128.
FLOAT_OVERFLOW = FLT_MAX + 2.0**103

# Word separators of the numbers' leading white space and of the header scan.
SEPARATORS = b" \t\r\n\x0b\x0c"

CAMERA_TEXT = 1023  # bytes of text a camera buffer holds before its NUL
MEDIA_FILE_TEXT = 255
CLIP_GROUP_VALUE = 77  # the server's own group value in the clip record

# Each reader's parameters in lookup order: (parameter, output member, kind).
LIVE = [
    ("server", "server", "int"),
    ("device", "device", "int"),
    ("framerate", "framerate", "double"),
    ("timeout", "timeout", "ms"),
    ("features", "features", "int"),
    ("sendtime", "sendtime", "int"),
    ("sendstate", "sendstate", "int"),
    ("cpid", "cpid", "int"),
    ("slide_show", "slide_show", "int"),
]
STREAM = [
    ("server", "server", "int"),
    ("segment", "segment", "int"),
    ("channel", "channel", "flag"),
    ("sendstate", "sendstate", "int"),
    ("timeout", "timeout", "ms"),
    ("features", "features", "int"),
    ("sendtime", "sendtime", "int"),
    ("cpid", "cpid", "int"),
]
CAMERA = [(name, name, "camera") for name in
          ("model", "camera", "device", "number", "speed", "command", "button")]
CLIP = [
    ("mediafile", "media_file", "mediafile"),
    ("startmsec", "start_msec", "int"),
    ("looping", "looping", "int"),
    ("stopmsec", "stop_msec", "int"),
    ("doburst", "burst", "float"),
    ("cpid", "cpid", "int"),
    ("features", "features", "int"),
    ("sendtime", "send_time", "int"),
    ("framerate", "frame_rate", "double"),
    ("width", "width", "int"),
    ("height", "height", "int"),
    ("quality", "quality", "int"),
    ("segment", "segment", "int"),
    ("channel", "channel", "int"),
]
CLIP_MEDIA_TYPE = "mediatype"

# Members whose value is a double (or a float widened to one) in the answers.
DOUBLE_MEMBERS = {"framerate", "frame_rate", "burst"}


def presets(route, server, timeout_ms):
    """The server's defaults for one reader's outputs, in answer order; server and timeout_ms
    come from its settings."""
    if route == "/live":
        return {"server": server, "device": -1, "framerate": -1.0, "timeout": timeout_ms,
                "mozilla": 0, "features": -1, "sendtime": -1, "sendstate": -1, "cpid": -1,
                "slide_show": -1}
    if route == "/stream":
        return {"server": server, "segment": -1, "channel": -1, "sendstate": -1,
                "timeout": timeout_ms, "features": -1, "sendtime": -1, "cpid": -1}
    if route == "/camera":
        return {name: b"-" for _, name, _ in CAMERA}
    return {"media_kind": 0, "media_file": b"none", "start_msec": -1, "stop_msec": -1,
            "burst": -1.0, "looping": -1, "frame_rate": -1.0, "width": -1, "height": -1,
            "quality": -1, "video_section": [0, 0, 0, 0], "segment": -1, "channel": -1,
            "audio_section": [0, 0, 0, 0], "features": -1, "send_time": -1,
            "group_value": CLIP_GROUP_VALUE, "cpid": -1, "reserved_untouched": True}


# ---- values -------------------------------------------------------------------------------------

def hex_value(byte):
    if 0x30 <= byte <= 0x39:
        return byte - 0x30
    if 0x41 <= byte <= 0x46:
        return byte - 0x41 + 10
    if 0x61 <= byte <= 0x66:
        return byte - 0x61 + 10
    return -1


def decode(value):
    """ "+" is a blank, "%" and two hex digits that byte, except "%00"; any other "%" stays."""
    out = bytearray()
    i = 0
    while i < len(value):
        c = value[i]
        if c == 0x2B:
            out.append(0x20)
            i += 1
        elif c == 0x25 and i + 2 < len(value):
            hi, lo = hex_value(value[i + 1]), hex_value(value[i + 2])
            byte = hi * 16 + lo if hi >= 0 and lo >= 0 else 0
            if byte > 0:
                out.append(byte)
                i += 3
            else:
                out.append(c)
                i += 1
        else:
            out.append(c)
            i += 1
    return bytes(out)


def saturate(n):
    return max(INT32_MIN, min(INT32_MAX, n))


def integer(text):
    """Leading white space, one optional sign, decimal digits; none gives 0; saturating."""
    m = re.match(rb"[ \t\r\n\x0b\x0c]*([+-]?)([0-9]*)", text)
    digits = m.group(2)
    if not digits:
        return 0
    n = int(digits)
    return saturate(-n if m.group(1) == b"-" else n)


def decimal(text):
    """Leading white space, optional sign, digits with an optional "." (digits on one side at
    least), optional exponent (e, E, d or D, optional sign, digits). No number gives 0.0; beyond a
    double an infinity, below it a zero of the sign."""
    m = re.match(rb"[ \t\r\n\x0b\x0c]*([+-]?)([0-9]*(?:\.[0-9]*)?)([eEdD][+-]?[0-9]+)?", text)
    sign, mantissa, exponent = m.group(1), m.group(2), m.group(3) or b""
    if not re.search(rb"[0-9]", mantissa):
        return 0.0
    magnitude = float((mantissa + exponent.replace(b"d", b"e").replace(b"D", b"e")).decode())
    return -magnitude if sign == b"-" else magnitude


def narrow_to_float(value):
    """The float nearest to the double; an infinity beyond the float range."""
    if math.isnan(value):
        return value
    if abs(value) >= FLOAT_OVERFLOW:
        return math.copysign(math.inf, value)
    if abs(value) > FLT_MAX:
        return math.copysign(FLT_MAX, value)
    return struct.unpack("<f", struct.pack("<f", value))[0]


# ---- the readers --------------------------------------------------------------------------------

def parameters(text):
    """The (name, raw value) pairs of the parameter part, in order."""
    part = text.split(b" ", 1)[0]
    part = part.lstrip(b"?&")
    pairs = []
    if not part:
        return pairs
    for parameter in part.split(b"&"):
        if b"=" not in parameter:
            continue
        name, value = parameter.rsplit(b"=", 1)
        pairs.append((name, value))
    return pairs


def first_values(text, names):
    """For each name the reader reads, the first value given it (names compared exactly)."""
    found = {}
    for name, value in parameters(text):
        key = name.decode("latin-1")
        if key in names and key not in found:
            found[key] = value
    return found


def convert(kind, raw):
    value = decode(raw)
    if kind == "int":
        return integer(value)
    if kind == "ms":
        return saturate(integer(value) * 1000)
    if kind == "double":
        return decimal(value)
    if kind == "float":
        return narrow_to_float(decimal(value))
    if kind == "flag":
        return 1 if value[:1] in (b"R", b"r") else 0
    if kind == "camera":
        return value[:CAMERA_TEXT]
    if kind == "mediafile":
        return value[:MEDIA_FILE_TEXT]
    raise ValueError(kind)


def names_mozilla(text):
    """The first word of the text that begins with "User-Agent:" (either case; words separated
    by blanks, tabs, CR, LF, VT, FF); whether the word after it begins with "Mozilla"."""
    for i in range(len(text)):
        if (i == 0 or text[i - 1] in SEPARATORS) and text[i:i + 11].lower() == b"user-agent:":
            j = i
            while j < len(text) and text[j] not in SEPARATORS:
                j += 1
            while j < len(text) and text[j] in SEPARATORS:
                j += 1
            return text[j:j + 7].lower() == b"mozilla"
    return False


def read(route, text, server, timeout_ms):
    """The outputs of the route's reader for the text, over the server's presets."""
    out = presets(route, server, timeout_ms)
    fields = {"/live": LIVE, "/stream": STREAM, "/camera": CAMERA, "/clip": CLIP}[route]
    names = {name for name, _, _ in fields}
    if route == "/clip":
        names.add(CLIP_MEDIA_TYPE)
    found = first_values(text, names)
    for name, member, kind in fields:
        if name in found:
            out[member] = convert(kind, found[name])
    if route == "/live" and names_mozilla(text):
        out["mozilla"] = 1
    if route == "/clip" and CLIP_MEDIA_TYPE in found:
        first = decode(found[CLIP_MEDIA_TYPE])[:1].upper()
        section = [out["features"], out["send_time"], out["group_value"], out["cpid"]]
        if first == b"V":
            out["media_kind"] = 1
            out["video_section"] = section
        elif first == b"A":
            out["media_kind"] = 2
            out["audio_section"] = section
    return out


# ---- the server ---------------------------------------------------------------------------------

ROUTES = ("/live", "/stream", "/camera", "/clip")


def header_fields(block, line_end):
    """The connection's header fields: (close, keep_alive, has_body)."""
    close = keep_alive = has_body = False
    for line in block[line_end + 2:].split(b"\n"):
        if b":" not in line:
            continue
        name, value = line.split(b":", 1)
        value = value[:-1] if value.endswith(b"\r") else value
        name = name.lower()
        tokens = [t.strip(b" \t").lower() for t in value.split(b",")]
        if name == b"connection":
            close |= b"close" in tokens
            keep_alive |= b"keep-alive" in tokens
        elif name == b"content-length":
            has_body |= re.match(rb"[ \t]*0*[1-9]", value) is not None
        elif name == b"transfer-encoding":
            has_body = True
    return close, keep_alive, has_body


class Expected:
    def __init__(self, status, body, connection, route=None):
        self.status = status
        self.body = body  # dict of members, None when the answer has no body
        self.connection = connection  # "close" or "keep-alive"
        self.route = route


def error(status, number, connection, head=False):
    body = None if head else {"request": number, "status": status, "error": REASONS[status]}
    return Expected(status, body, connection)


REASONS = {400: "Bad Request", 404: "Not Found", 405: "Method Not Allowed",
           431: "Request Header Fields Too Large", 500: "Internal Server Error"}


def expected(raw, number, server, timeout_ms):
    """What the server answers to the request logged as `raw` under `number`."""
    end = raw.find(b"\r\n\r\n")
    if end < 0:
        return error(431, number, "close")
    block = raw[:end + 4]
    line_end = block.find(b"\r")
    line = block[:line_end]
    method_end = line.find(b" ")
    if method_end <= 0:
        return error(400, number, "close")
    target_end = line.find(b" ", method_end + 1)
    if target_end < 0 or target_end == method_end + 1:
        return error(400, number, "close")
    method, target, version = line[:method_end], line[method_end + 1:target_end], \
        line[target_end + 1:]
    close, keep_alive, has_body = header_fields(block, line_end)
    if version == b"HTTP/1.1":
        closing = close
    else:
        closing = close or not keep_alive
    closing |= has_body
    if method != b"GET":
        head = method == b"HEAD"
        return error(405, number, "close" if closing or not head else "keep-alive", head)
    connection = "close" if closing else "keep-alive"
    question = target.find(b"?")
    path = target if question < 0 else target[:question]
    route = path.decode("latin-1")
    if route not in ROUTES:
        return error(404, number, connection)
    start = method_end + 1 + (question if question >= 0 else len(target))
    text = block[start:].split(b"\0", 1)[0]
    body = {"request": number, "path": route}
    body.update(read(route, text, server, timeout_ms))
    return Expected(200, body, connection, route)


# ---- comparing an answer ------------------------------------------------------------------------

class Number(str):
    """A JSON number's text as the answer spelt it."""


def _no_constant(name):
    raise ValueError(f"{name} is not JSON")


def parse_answer(line):
    """The answer's JSON object with every number kept as a Number (its text), so that "-0"
    keeps its sign and an integer is not taken for a float; raises ValueError for a line that is
    not strict JSON."""
    import json

    return json.loads(line, parse_int=Number, parse_float=Number, parse_constant=_no_constant)


NON_FINITE = {"inf": math.inf, "-inf": -math.inf}


def _same_double(want, got):
    if not isinstance(got, Number):
        # JSON has no infinity or NaN: the server spells them as strings.
        if got == "nan":
            return math.isnan(want)
        return isinstance(got, str) and got in NON_FINITE and NON_FINITE[got] == want
    value = float(got)
    return value == want and math.copysign(1.0, value) == math.copysign(1.0, want)


def _same(member, want, got):
    if isinstance(want, bool):
        return got is want
    if member in DOUBLE_MEMBERS:
        return _same_double(want, got)
    if isinstance(want, bytes):
        return isinstance(got, str) and not isinstance(got, Number) and \
            all(ord(c) < 256 for c in got) and got.encode("latin-1") == want
    if isinstance(want, list):
        return isinstance(got, list) and len(got) == len(want) and \
            all(_same(member, w, g) for w, g in zip(want, got))
    if isinstance(want, int):
        return isinstance(got, Number) and re.fullmatch(r"-?[0-9]+", got) is not None and \
            int(got) == want
    return not isinstance(got, Number) and want == got


def _shown(value):
    if isinstance(value, (bytes, str)) and len(value) > 80:
        return repr(value[:40]) + f"...({len(value)} long)"
    return repr(value)


def differences(want, got):
    """The members in which the answer differs from the model, as readable lines."""
    lines = []
    if list(got.keys()) != list(want.keys()):
        lines.append(f"members {list(got.keys())} instead of {list(want.keys())}")
    for member, value in want.items():
        if member in got and not _same(member, value, got[member]):
            lines.append(f"{member}: {_shown(got[member])}, the model says {_shown(value)}")
    return lines
