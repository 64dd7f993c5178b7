"""The model's rules against the examples the host guide gives for them, so that a wrong model
cannot pass a wrong server: python3 tests/examples/model_test.py"""

import math
import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import model  # noqa: E402


class Values(unittest.TestCase):
    def test_decoding(self):
        for raw, decoded in [
            (b"a+b", b"a b"), (b"%41", b"A"), (b"%00", b"%00"), (b"100%", b"100%"),
            (b"%4", b"%4"), (b"%zz", b"%zz"), (b"%2541", b"%41"), (b"%%41", b"%A"),
            (b"%c3%A9", b"\xc3\xa9"), (b"%41%", b"A%"), (b"", b""),
        ]:
            self.assertEqual(model.decode(raw), decoded, raw)

    def test_integers(self):
        for text, value in [
            (b"12abc", 12), (b"0x10", 0), (b"abc", 0), (b"", 0), (b"-0", 0), (b" \t+7", 7),
            (b"2147483647", 2**31 - 1), (b"2147483648", 2**31 - 1), (b"-2147483648", -(2**31)),
            (b"-2147483649", -(2**31)), (b"9" * 40, 2**31 - 1), (b"- 5", 0), (b"1e3", 1),
        ]:
            self.assertEqual(model.integer(text), value, text)

    def test_decimals(self):
        for text, value in [
            (b"29.97", 29.97), (b"inf", 0.0), (b"12abc", 12.0), (b".5", 0.5), (b"5.", 5.0),
            (b".", 0.0), (b"2.5d2", 250.0), (b"1E+3", 1000.0), (b"1e", 1.0), (b"1e+", 1.0),
            (b"1e400", math.inf), (b"-1e400", -math.inf), (b" -3", -3.0), (b"0x10", 0.0),
        ]:
            self.assertEqual(model.decimal(text), value, text)
        for text in (b"-0", b"-1e-400", b"-0.0"):
            self.assertEqual(math.copysign(1.0, model.decimal(text)), -1.0, text)
        self.assertEqual(model.decimal(b"1e-400"), 0.0)

    def test_narrowing(self):
        self.assertEqual(model.narrow_to_float(1e39), math.inf)
        self.assertEqual(model.narrow_to_float(-1e39), -math.inf)
        self.assertEqual(model.narrow_to_float(3.4028235e38), model.FLT_MAX)
        self.assertEqual(model.narrow_to_float(1e-50), 0.0)
        self.assertNotEqual(model.narrow_to_float(0.1), 0.1)


class Readers(unittest.TestCase):
    def live(self, text):
        return model.read("/live", text, 3, 4500)

    def test_parameter_part(self):
        cases = [
            (b"?server=5&server=9", {"server": 5}),  # the first occurrence wins
            (b"?&&??server=4", {"server": 4}),  # a leading run of "?" and "&"
            (b"?a=server=7&server==8", {"server": 3}),  # the name ends at the last "="
            (b"?Server=5&server", {"server": 3}),  # names are exact; no "=", no pair
            (b"?x=1 server=6", {"server": 3}),  # the part ends at the first blank
            (b"?timeout=3&timeout=", {"timeout": 3000}),
            (b"?timeout=2147484", {"timeout": 2**31 - 1}),
            (b"?timeout=", {"timeout": 0}),
            (b" HTTP/1.1\r\nUser-Agent: mOZILLA/5.0\r\n\r\n", {"mozilla": 1, "server": 3}),
            (b"?server=1 HTTP/1.1\r\nUser-Agent:Mozilla\r\nA: b\r\n\r\n", {"mozilla": 0}),
            (b"?s=1 HTTP/1.1\r\nX: User-Agent: Mozilla\r\nUser-Agent: curl\r\n\r\n",
             {"mozilla": 1}),
            (b"?s=1 HTTP/1.1\r\nX-User-Agent: Mozilla\r\n\r\n", {"mozilla": 0}),
        ]
        for text, want in cases:
            got = self.live(text)
            for member, value in want.items():
                self.assertEqual(got[member], value, (text, member))

    def test_stream_channel(self):
        for value, flag in [(b"R..", 1), (b"r", 1), (b"x", 0), (b"", 0), (b"%52", 1), (b"+R", 0)]:
            self.assertEqual(model.read("/stream", b"?channel=" + value, 1, 1)["channel"], flag)

    def test_texts_are_cut(self):
        camera = model.read("/camera", b"?model=" + b"%41" * 1100 + b"&camera=", 1, 1)
        self.assertEqual(camera["model"], b"A" * 1023)
        self.assertEqual(camera["camera"], b"")
        self.assertEqual(camera["device"], b"-")
        clip = model.read("/clip", b"?mediafile=" + b"f" * 300, 1, 1)
        self.assertEqual(clip["media_file"], b"f" * 255)

    def test_clip_media_type(self):
        for text, kind, video, audio in [
            (b"?mediatype=V&features=1&sendtime=2&cpid=3", 1, [1, 2, 77, 3], [0, 0, 0, 0]),
            (b"?features=1&mediatype=a&cpid=3", 2, [0, 0, 0, 0], [1, -1, 77, 3]),
            (b"?mediatype=x&features=5", 0, [0, 0, 0, 0], [0, 0, 0, 0]),
            (b"?mediatype=&features=5", 0, [0, 0, 0, 0], [0, 0, 0, 0]),
            (b"?mediatype=%76", 1, [-1, -1, 77, -1], [0, 0, 0, 0]),
        ]:
            clip = model.read("/clip", text, 1, 1)
            self.assertEqual((clip["media_kind"], clip["video_section"], clip["audio_section"]),
                             (kind, video, audio), text)


class Server(unittest.TestCase):
    def test_statuses(self):
        for raw, status, connection in [
            (b"GET /live HTTP/1.1\r\n\r\n", 200, "keep-alive"),
            (b"GET /live HTTP/1.1\r\nConnection: close\r\n\r\n", 200, "close"),
            (b"GET /live HTTP/1.0\r\n\r\n", 200, "close"),
            (b"GET /live HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", 200, "keep-alive"),
            (b"GET /favicon.ico HTTP/1.1\r\n\r\n", 404, "keep-alive"),
            (b"HEAD /live HTTP/1.1\r\n\r\n", 405, "keep-alive"),
            (b"POST /live HTTP/1.1\r\nContent-Length: 3\r\n\r\n", 405, "close"),
            (b"GET /live HTTP/1.1\r\nContent-Length: 3\r\n\r\n", 200, "close"),
            (b"BREW\r\n\r\n", 400, "close"),
            (b"GET /live HTTP/1.1\r\nX: " + b"a" * 100, 431, "close"),
        ]:
            want = model.expected(raw, 1, 3, 4500)
            self.assertEqual((want.status, want.connection), (status, connection), raw)

    def test_text_ends_at_a_nul(self):
        want = model.expected(b"GET /live?server=2 HTTP/1.1\r\nA: \0\r\nUser-Agent: Mozilla\r\n\r\n",
                              1, 3, 4500)
        self.assertEqual((want.body["server"], want.body["mozilla"]), (2, 0))

    def test_answers_compare_exactly(self):
        want = {"framerate": -0.0, "timeout": 5, "model": b"\xc3\xa9"}
        same = model.parse_answer('{"framerate":-0,"timeout":5,"model":"\\u00c3\\u00a9"}')
        self.assertEqual(model.differences(want, same), [])
        for line in ('{"framerate":0,"timeout":5,"model":"\\u00c3\\u00a9"}',
                     '{"framerate":-0,"timeout":"5","model":"\\u00c3\\u00a9"}',
                     '{"framerate":-0,"timeout":5,"model":"\\u00e9"}',
                     '{"timeout":5,"framerate":-0,"model":"\\u00c3\\u00a9"}'):
            self.assertNotEqual(model.differences(want, model.parse_answer(line)), [], line)
        self.assertEqual(model.differences({"framerate": math.inf},
                                           model.parse_answer('{"framerate":"inf"}')), [])
        with self.assertRaises(ValueError):
            model.parse_answer('{"framerate":Infinity}')


if __name__ == "__main__":
    unittest.main()
