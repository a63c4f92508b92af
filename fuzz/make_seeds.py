#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/. Run it again after a
record layout changes; the seeds are small and kept in the repository."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def pstring(text, size):
    b = text.encode("cp1252")
    return bytes([len(b)]) + b + bytes(size - len(b))


def frage(typ, text, answers, results):
    out = struct.pack("<H", typ) + pstring(text, 255)
    for k in range(5):
        out += pstring(answers[k] if k < len(answers) else "", 220)
    for k in range(199):
        if k < len(results):
            z, counts = results[k]
        else:
            z, counts = 1.0, (0, 0, 0, 0, 0)
        out += struct.pack("<d5H", z, *counts)
    out += bytes([0, 1, 0, 0, 0]) + bytes(13)
    assert len(out) == 4963
    return out


def ini(users):
    out = b"".join(pstring(u, 255) for u, _ in users) + bytes(256 * (100 - len(users)))
    out += b"".join(pstring(p, 20) for _, p in users) + bytes(21 * (100 - len(users)))
    out += bytes([0, 1, 0, 1, 0, 1]) + struct.pack("<H", 30) + bytes([1, 0, 0])
    out += pstring("proxy.example.org", 200) + struct.pack("<H", 8080) + bytes(9764)
    assert len(out) == 37678
    return out


def history(typ, text, counts, z):
    b = text.encode("cp1252")
    out = struct.pack("<H", typ) + bytes([len(b)]) + b + bytes(255 - len(b))
    out += struct.pack("<5Hd", *counts, z)
    assert len(out) == 276
    return out


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


q1 = frage(3, "Welche Farbe hat der Himmel?", ["Blau", "Grün", "Rot"], [(45000.5, (10, 2, 1, 0, 0))])
q2 = frage(9, "Ist Kelvin eine SI-Einheit?", [], [(46000.25, (20, 3, 0, 0, 0)), (46001.75, (5, 5, 0, 0, 0))])
write("fuzz_series_presentation", "two_questions", q1 + q2)
write("fuzz_series_presentation", "one_and_a_half", q1 + q2[:1000])
write("fuzz_series_editor", "repeated_question", b"\x01" + q1)
write("fuzz_series_editor", "short_file", b"\x00" + q1 + q2)

write("fuzz_settings", "two_logins", ini([("demo@example.org", "geheim"), ("zweite", "")]))
write("fuzz_settings", "damaged", ini([("demo", "pw")])[:300])

write("fuzz_history", "three_polls",
      history(2, "Ja oder nein?", (3, 4, 0, 0, 0), 46000.5) + history(9, "Schon fertig?", (6, 1, 0, 0, 0), 46001.0)
      + history(5, "Welche Lösung?", (1, 2, 3, 4, 5), 46002.75))
write("fuzz_history", "torn", history(3, "Abgerissen", (5, 0, 0, 0, 0), 46000.0)[:100])

write("fuzz_vote_counts", "five", "12-3-0-0-0-")
write("fuzz_vote_counts", "signed", "+7--2-65537-0-1-rest")
write("fuzz_vote_counts", "short", "1-2-")

write("fuzz_join_link", "link", '{"ok":true,"link":"http://192.168.1.20:8090/?id=demo"}')
write("fuzz_join_link", "error", '{"ok":false,"result":"unknown","message":"Diese ID ist nicht bekannt."}')

write("fuzz_server_query", "script_cp1252", b"\x00id=m%FCller&pw=geheim&eid=12%2034&typ=3")
write("fuzz_server_query", "form_utf8", b"\x01id=demo&answer=A&code=1234+5")
write("fuzz_server_query", "repeated", b"\x01a=1&a=2&b&&c=%zz")

write("fuzz_server_json", "vote", '{"id":"demo","answer":"B","code":"1234"}')
write("fuzz_server_json", "escapes", '{"id":"d\\u00fcmo\\n","n":12.5e3,"t":true,"f":false,"z":null}')

write("fuzz_server_vote", "json_vote", b"\x01" + b'{"id":"demo","answer":"B"}')
write("fuzz_server_vote", "json_code", b"\x13" + b'{"id":"demo","answer":"Ja","code":"1234"}')
write("fuzz_server_vote", "form_vote", b"\x04id=demo&answer=C")

write("fuzz_bank_gift", "choices",
      "// Kapitel\n$CATEGORY: $course$/top/K1\n\n::Titel::Frage?{=a ~b#gut ~%50%c ####allgemein}\n\n"
      "Rund?{T#ja}\n\n[html]<p>&uuml;ber &lt;b&gt;<br>zwei</p>{=<b>x</b> ~y}\n\nGrant is {~a =b ~c} in the tomb.\n")
write("fuzz_bank_gift", "escapes_and_others",
      "a \\= \\{ \\} \\# \\~ \\: \\\\ \\n b{\n=\\~1\n\n~2\n}\n\n// c\nAufsatz{}\n\nZahl{#1:2}\n\n"
      "Paare{=a -> b =c -> d}\n\nKurz{=ja =Ja}\n\nNur Text\n")
write("fuzz_bank_moodle", "quiz", """<?xml version="1.0" encoding="UTF-8"?>
<quiz>
<question type="category"><category><text>$course$/top/K1</text></category></question>
<question type="multichoice"><name><text>Eins</text></name>
<questiontext format="html"><text><![CDATA[<p>Was &amp; &uuml;ber&nbsp;<b>x</b>?</p><img src="a.png">]]></text>
<file name="a.png" encoding="base64">iVBORw0K</file></questiontext>
<single>false</single>
<answer fraction="50"><text>a</text><feedback><text>f</text></feedback></answer>
<answer fraction="50" format="plain_text"><text>b &lt; c</text></answer>
<answer fraction="-100"><text>c</text></answer>
</question>
<question type="truefalse"><name><text>Wahr</text></name>
<questiontext format="moodle_auto_format"><text>Flach?
Ja.</text></questiontext>
<answer fraction="0"><text>true</text></answer><answer fraction="100"><text>false</text></answer>
</question>
<question type="essay"><name><text>Aufsatz</text></name></question>
<question type="ddwtos"><name><text>Ziehen</text></name></question>
</quiz>
""")
write("fuzz_bank_aiken", "two",
      "Was ist 2+2?\r\nA. 3\r\nB) 4\r\nC. 5\r\nANSWER: B\r\n\r\nZwei Zeilen\nFrage?\nA. ja\nB. nein\nANSWER: A\n")
write("fuzz_bank_aiken", "six_answers", "Sechs?\nA. 1\nB. 2\nC. 3\nD. 4\nE. 5\nF. 6\nANSWER: F\n")
