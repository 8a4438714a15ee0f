# The Python module against the library: round trips per writable format,
# index and jumps, bookmarks across open and close, batches against
# iteration, errors, and logs exchanged with cvrtool.
import json
import os
import shutil
import subprocess

import numpy as np
import pytest

import corvane

PADDED = {"1.02": False, "e1.02": False, "u1.02": True, "e1.01": True}
CVRTOOL = os.environ.get("CORVANE_CVRTOOL") or shutil.which("cvrtool")


def bulk(payloads, padded):
    """A bulk block's data: per message a 6-byte head ending in the length, the payload, padding."""
    out = b""
    for p in payloads:
        m = bytes([0x1D, 0x10, 1, 0]) + len(p).to_bytes(2, "big") + p
        out += m + bytes(-len(m) % 4 if padded else 0)
    return out


def record(path, fmt="1.02", n=200):
    """n messages stamped 1000 + 10 i on connection i % 5, a bookmark before message 50, a bulk block."""
    with corvane.open(path, "w", format=fmt) as log:
        log.write(0x40, 9, b"", time_ns=1)
        for i in range(n):
            if i == 50:
                log.bookmarks.append("fifty")
            log.write(0x50, i % 5, b"m%d" % i, time_ns=1000 + 10 * i)
        log.write_bulk(3, bulk([b"hi", b"you"], PADDED[fmt]), 2, time_ns=10**12)
    want = [(0x40, 9, 1, "message", b"")]
    for i in range(n):
        if i == 50:
            want.append((0x43, 0xFF, 0, "bookmark", b"fifty"))
        want.append((0x50, i % 5, 1000 + 10 * i, "message", b"m%d" % i))
    # Each bulk message reads back with its head and its padding.
    return want + [(0x50, 0xFF, 10**12, "message", bulk([p], PADDED[fmt])) for p in (b"hi", b"you")]


def rows(records):
    return [(r.block_id, r.connection, r.time_ns, r.kind, r.data) for r in records]


@pytest.mark.parametrize("fmt", ["1.02", "u1.02", "e1.02", "e1.01"])
def test_round_trip_of_every_writable_format(tmp_path, fmt):
    want = record(tmp_path / "a.cvr", fmt)
    with corvane.open(tmp_path / "a.cvr") as log:
        assert log.info()["format"] == fmt
        got = list(log)
        assert rows(got) == want and [r.message_number for r in got] == list(range(len(want)))
        assert list(log) == []  # iteration goes on from where it stopped, as with files
        assert len(log) == len(want)


def test_index_jump_and_items(tmp_path):
    want = record(tmp_path / "a.cvr")
    with corvane.open(tmp_path / "a.cvr") as log:
        seen = []
        assert log.index(seen.append, resolution=7) == len(want) and seen[-1] == 100
        for n in (0, 51, 150, len(want) - 1, -1):
            assert rows([log[n]]) == [want[n]]
        assert next(log).message_number == 0  # [] leaves iteration where it was
        log.jump(100)
        assert rows(log) == want[100:]
        with pytest.raises(IndexError):
            log[len(want)]


def test_bookmarks_persist_across_open_and_close(tmp_path):
    path = tmp_path / "a.cvr"
    record(path)
    with corvane.open(path) as log:
        assert list(log.bookmarks) == [(51, "fifty")]
        log.bookmarks.add(3, "three")
        log.bookmarks.add(0, "first")
    with corvane.open(path) as log:
        assert list(log.bookmarks) == [(0, "first"), (4, "three"), (53, "fifty")]
        log.bookmarks[-1] = "FIFTY"
        del log.bookmarks[0]
    with corvane.open(path) as log:
        assert list(log.bookmarks) == [(3, "three"), (52, "FIFTY")] and len(log.bookmarks) == 2
        assert [(r.message_number, r.data) for r in log if r.kind == "bookmark"] == [(3, b"three"), (52, b"FIFTY")]


def test_batches_match_iteration(tmp_path):
    record(tmp_path / "a.cvr")
    with corvane.open(tmp_path / "a.cvr") as log:
        want = list(log)
        for args, kw, select in [((0, 1000), {}, want), ((60, 25), {}, want[60:85]), ((300, 5), {}, []),
                                 ((None, 1000), {"since": 1500, "until": 1600}, want[51:62]),
                                 ((None, 3), {"since": 1500}, want[51:54])]:
            records, data = log.read_batch(*args, **kw)
            assert records["message_number"].tolist() == [r.message_number for r in select]
            assert records["time_ns"].tolist() == [r.time_ns for r in select]
            assert records["block_id"].tolist() == [r.block_id for r in select]
            assert data.dtype == np.uint8
            assert [data[o:o + s].tobytes() for o, s in records[["offset", "size"]].tolist()] == [r.data for r in select]
        log.read_batch(0, 10)
        assert next(log).message_number == 10  # iteration continues after a batch
        log.read_batch(None, 100, until=1000 + 10 * 30)
        assert next(log).message_number == 31  # stopped before the first stamp at or after until


def test_errors_carry_the_librarys_code_and_text(tmp_path):
    with pytest.raises(corvane.Error) as e:
        corvane.open(tmp_path / "missing.cvr")
    assert (e.value.code, e.value.text) == (0x80043002, "File creation failed;LOGFILE=0x80043002")
    log = corvane.open(tmp_path / "a.cvr", "w")
    log.close()
    with pytest.raises(corvane.Error, match="File not open;LOGFILE=0x80043006"):
        log.write(1, 1, b"x")


def test_bad_arguments_raise_type_or_value_errors(tmp_path):
    record(tmp_path / "r.cvr")
    w, r = corvane.open(tmp_path / "w.cvr", "w"), corvane.open(tmp_path / "r.cvr")
    cases = [
        (TypeError, lambda: corvane.open(3)), (ValueError, lambda: corvane.open(tmp_path / "x", "a")),
        (ValueError, lambda: corvane.open(tmp_path / "x", "w", format="2.0")),
        (ValueError, lambda: corvane.open(tmp_path / "r.cvr", format="1.02")),
        (ValueError, lambda: w.write(0x10000, 1, b"")), (ValueError, lambda: w.write(1, 256, b"")),
        (ValueError, lambda: w.write(1, 1, b"", time_ns=-1)), (TypeError, lambda: w.write(1, 1, 5)),
        (TypeError, lambda: w.write("1", 1, b"")), (ValueError, lambda: w.write_bulk(1, b"", -1)),
        (ValueError, lambda: next(w)), (ValueError, lambda: r.write(1, 1, b"")),
        (ValueError, lambda: r.read_batch(-1)), (ValueError, lambda: r.read_batch(0, -1)),
        (ValueError, lambda: r.read_batch(0, since=5)), (ValueError, lambda: r.index(resolution=0)),
        (TypeError, lambda: r.index(progress=3)), (TypeError, lambda: r.jump("a")),
        (IndexError, lambda: r.bookmarks[5]), (TypeError, lambda: r.bookmarks.add("a", "b")),
        (TypeError, lambda: r[1.5]),
    ]
    for error, call in cases:
        with pytest.raises(error):
            call()
    w.close(), r.close()


def cvrtool_rows(path):
    out = subprocess.run([CVRTOOL, "dump", str(path), "--json", "--bytes", "0"], check=True,
                         capture_output=True, text=True).stdout
    return [(j["msg"], j["id"], j["conn"], j["ns"], j.get("comment", "").encode() or bytes.fromhex(j.get("data", "")))
            for j in map(json.loads, out.splitlines())]


@pytest.mark.skipif(not CVRTOOL, reason="cvrtool not found (set CORVANE_CVRTOOL)")
@pytest.mark.parametrize("writer", ["cvrtool", "python"])
def test_logs_exchanged_with_cvrtool(tmp_path, writer):
    path = tmp_path / "x.cvr"
    if writer == "cvrtool":
        subprocess.run([CVRTOOL, "record", str(path), "--demo", "300", "--format", "u1.02"], check=True,
                       capture_output=True)
    else:
        record(path, "e1.02")
    with corvane.open(path) as log:
        mine = [(r.message_number, r.block_id, r.connection, r.time_ns, r.data) for r in log]
    assert len(mine) > 200 and mine == cvrtool_rows(path)
