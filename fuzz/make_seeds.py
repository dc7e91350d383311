#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/: real frames and the documented examples,
laid out as each target reads its input (see the comment at the top of each target).
Run it again after changing a target's input layout; files are named by content."""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ACK, NAK, STX, ETX = 0x06, 0x15, 0x02, 0x03


def reply(data=b"", status=ACK):
    """A reply frame: STX, length, the status byte and data, XOR, sum, ETX."""
    content = bytes([status]) + bytes(data)
    x = 0
    for b in content:
        x ^= b
    return bytes([STX]) + struct.pack("<H", len(content)) + content + bytes([x, sum(content) & 0xFF, ETX])


def refusal(status):
    return reply(bytes([status]), NAK)


def msg(b):
    return struct.pack("<H", len(b)) + bytes(b)


def word(v):
    return struct.pack("<H", v)


def write(target, *seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)


def reply_getters():
    def cmd(selector, message, parameter=0, size=None):
        return bytes([selector, parameter]) + (word(size - 7) if size else b"") + msg(message)
    write("reply_getters",
          cmd(0, reply(b"V1.10 build 7")),                       # version
          cmd(0, reply()),                                        # 7 bytes, no data
          cmd(0, b"\x02\x01"),                                     # cut short
          cmd(3, reply(b"\x1d\x00\x32")),                         # one-byte getter
          cmd(5, reply(b"settings block" * 3)),                   # block getter
          cmd(7, reply(b"\x51\x00\x0a" + bytes(range(10)))),      # counted: KSN
          cmd(8, reply(b"\x4e\x00\xc8" + b"12345")),              # count past the data
          cmd(9, reply(bytes(range(8)))),                         # eight bytes
          cmd(9, reply(bytes(range(5)))),                         # eight bytes, short
          cmd(10, reply(b"\x49\x00\x31"), 0x31),                  # setter
          cmd(11, reply(b"E")),                                    # key name
          cmd(14, reply(struct.pack("<I", 0x01020304))),           # pause count
          cmd(16, bytes([STX, 0, 0, ACK])),                        # four-byte ACK
          cmd(18, refusal(0xE1)),                                  # refusal 99
          cmd(22, bytes([2, 4, 0, 6]) + b"ABC" + bytes([0x41, 0xC7, 3]), 0, 100),
          cmd(22, reply(b"pic"), 0x03, 100),                      # long reply, 65,539 bytes
          cmd(23, reply(b"pic"), 0x0D, 100),                      # long layout, 65,544 bytes
          cmd(22, reply(b"pic"), 0x09, 100),                      # 65,542 bytes: neither layout
          cmd(23, reply(b"\x00" * 100), 0, 60),                   # cut by the buffer
          cmd(3, refusal(0xEC)) + cmd(3, b"\x02\x05"),            # a refusal, then short
          cmd(1, reply(b"x" * 600)))                              # past 512 bytes


def arrive(count, data, got=65):
    report = bytes([0, count]) + bytes(data)
    report = (report + bytes(65))[:got]
    return bytes([0, got + 1]) + report


def stage(count, data):
    return bytes([1]) + arrive(count, data)[1:]


def read(kept, size):
    return bytes([3, kept]) + word(size)


def hid_join():
    OPEN, CLOSE = bytes([2]), bytes([5])
    frame = bytes([2, 3, 0, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03])
    write("hid_join",
          OPEN + arrive(0x85, b"\x01\x02\x03\x04\x05") + arrive(0x03, b"\x06\x07\x08") + read(0, 512),
          OPEN + arrive(0x00, b"\x09\x09") + read(0, 512),
          OPEN + arrive(0x83, b"\x01\x02\x03") + arrive(0x02, b"\x04\x05") + read(0, 2),
          OPEN + arrive(0x83, b"\x01\x02\x03") + arrive(0x02, b"\x04\x05") + read(0, 3),
          OPEN + arrive(0x40, b"\x01") + arrive(0xFF, b"\x02") + arrive(0x02, b"\x07\x08") + read(0, 512),
          OPEN + arrive(0x02, b"\x01\x02", got=1) + arrive(0x02, b"\x01\x02", got=0) + read(0, 512),
          # Unsolicited message waiting while a command runs: kept for the polling read.
          OPEN + arrive(0x81, b"\xAA") + arrive(0x01, b"\xBB") + stage(0x02, b"\x06\x07")
          + bytes([4]) + word(len(frame)) + frame + word(512) + read(1, 512) + read(1, 512),
          OPEN + arrive(0x01, b"\xCC") + OPEN + CLOSE + OPEN + read(1, 512),
          OPEN + b"".join(arrive(0xBF, bytes(63)) for _ in range(9)) + arrive(0x10, bytes(16)) + read(0, 512),
          # Bytes behind a reply handed to the loop, then sorted: keep the first, drop the second.
          OPEN + bytes([6]) + word(70) + bytes(range(70)) + bytes([6]) + word(3) + b"\x02\x01\x00"
          + bytes([7, 0b010]) + read(1, 512) + read(1, 512),
          OPEN + arrive(0x81, b"\xAA") + arrive(0x01, b"\xBB") + OPEN + bytes([7, 0xFF]) + read(1, 512))


def point_decoder():
    def reads(*chunks):
        return b"".join(bytes([len(c)]) + bytes(c) for c in chunks)
    write("point_decoder",
          bytes([1, 30]) + reads(b"\x9c\x2b\x45\x12\x00\x8c\x00\x00\x00\x00"),
          bytes([4, 30]) + reads(b"\x90\x2b\x45\x12\x00\x80\x00\x00\x00\x00"),
          bytes([4, 30]) + reads(b"\x9c\x2b\x45\x12\x00"),
          bytes([2, 30]) + reads(b"\x90\x38\x00\x00\x00\x90\x07\x7f\x7f\x00\x80\x00\x00\x00\x00"),
          bytes([2, 30]) + reads(b"\x90\x01\x10\x10\x00\x90\x00\x05", b"\x05\x00\x90\x00\x03\x03\x00"),
          bytes([3, 30]) + reads(b"\x90\x00\x00\x00\x00"),
          bytes([1, 2]) + reads(b"\x9c\x00\x01\x01\x00\x9c\x00\x02\x02\x00"))


def capture():
    start = reply()
    pen = b"\x9c\x2b\x45\x12\x00" * 6 + b"\x8c\x00\x00\x00\x00"
    rel = b"\x90\x01\x10\x10\x00" * 4 + b"\x80\x00\x00\x00\x00"
    write("capture",
          bytes([1, 0]) + msg(start) + msg(pen[:12]) + msg(pen[12:]) + msg(b"\x7a\x05\x00\x00"),
          bytes([2, 0]) + msg(start) + msg(rel) + msg(b"\x7a\xff\x00\x45") + msg(rel[:7]) + msg(rel[7:]),
          bytes([4, 0]) + msg(start) + msg(b"\x90\x00\x00\x00\x00" * 12) + msg(b"\x7a\xff\x00\x41"),
          bytes([3, 0]) + msg(start) + msg(pen) + msg(b"\x7a\x07\x00\x00"),
          bytes([1, 1]) + msg(start) + msg(pen) + msg(b"\x7a\xff\x00\x43"),
          bytes([1, 0]) + msg(refusal(0xC1)) + msg(pen),
          bytes([1, 0]) + msg(start) + msg(b"\x9c" * 70) + msg(b"\x12\x34"))


def card_data():
    tracks = b"%B4111111111111111^CARDHOLDER/A^2512101?\n;4111111111111111=2512101?\n"
    framed = bytes([STX]) + b"\x80\x3f\x00record?\nbytes?\n" + bytes([ETX])
    write("card_data",
          word(len(tracks)) + tracks,
          word(len(framed)) + framed,
          word(15) + b"abc?\n\rdef\n?\n?\n",
          word(11) + b"0123456789?\n",
          word(8) + bytes([2, 2, 0, ACK, ord("E"), 0x43, 0x4B, 3]),
          word(8) + bytes([2, 2, 0, ACK, ord("A"), 0x47, 0x47, 3]),
          word(8) + bytes([2, 2, 0, NAK, ord("C"), 0x56, 0x58, 3]),
          word(512) + (tracks * 8)[:512])


def entry_answers():
    start = reply()
    def entry(selector, mode, *messages):
        return bytes([selector, mode]) + msg(start) + b"".join(msg(m) for m in messages)
    numeric = bytes([2, 7, 0, 6, 3, 0x31, 0x32, 0x35, 0x46, 0x46, 0x33, 0x2D, 3])
    write("entry_answers",
          entry(0, 0, reply(b"\x01\x02\x03\x04\x05\x06\x07\x08")),
          entry(0, 0, reply(b"\x15\x00\x00"), reply(b"1234")),
          entry(0, 0, refusal(0xE8)),
          entry(1, 0, numeric),
          entry(1, 1, reply(b"\x05" + b"12345")),
          entry(2, 0, reply(bytes(range(13)))),
          entry(3, 0, b"", reply(b"\x00\x00" + b"encrypted!!")),
          entry(3, 0, reply(b"\x01\x02")),
          entry(4, 0, reply(b"abc")),
          entry(4, 1, reply(b"ab"), reply(b";4111=2512?")),
          entry(4, 4, refusal(0x81)),
          bytes([0, 0]) + msg(refusal(0x19)))


def picture_list():
    write("picture_list",
          msg(reply(b"\x03" + bytes([1, 0, 2, 0, 7, 1]))),
          msg(reply(b"\x00")),
          msg(reply(b"\xff" + bytes(20))),
          msg(reply(b"\xff" + bytes(510))),
          msg(refusal(0xEE)) + msg(b"\x02\x01\x00\x06"),
          msg(reply(b"\x02" + bytes([1, 0, 2]))))


def rsa_block():
    def seed(whole, p, q, e, shape, extra, data):
        return bytes([whole, p, q, e, shape]) + extra + (word(len(data)) if whole else bytes([len(data)])) + data
    prompt = bytes(range(40))
    write("rsa_block",
          seed(0, 0, 1, 0, 0, b"", prompt),                     # 1024-bit key
          seed(0, 2, 3, 1, 0, b"", b""),                        # 1011 bits, e = 3
          seed(0, 1, 0, 0, 0, b"", bytes(117)),                 # the longest piece
          seed(0, 1, 0, 0, 0, b"", bytes(118)),                 # one too long
          seed(0, 4, 6, 0, 1, word(1023), prompt),              # bits 1023
          seed(0, 4, 6, 0, 1, word(600), prompt),               # bits short: output cut
          seed(0, 0, 1, 0, 1, word(1025), prompt),              # bits past 1024
          seed(0, 6, 7, 2, 0, b"", prompt),                     # 512-bit key: block too big
          seed(0, 10, 11, 0, 2, word(400) + b"\x01", prompt),   # spoilt prime1
          seed(1, 0, 1, 0, 0, b"", bytes([0x7F]) + bytes(127)),
          seed(1, 14, 15, 0, 0, b"", bytes([0x12, 0x34])),      # tiny key
          seed(1, 5, 4, 0, 0, b"", bytes(140)),                 # prime2 longer than prime1
          seed(1, 0, 1, 4, 0, b"", bytes([1]) + bytes(130)))


def find_frame():
    version = bytes([0x78, 0x46, 0x01])
    write("find_frame",
          bytes([0]) + version,                                   # a frame alone
          bytes([3]) + b"\x9c\x2b\x45" + version,                 # behind a pen packet's bytes
          bytes([4]) + b"\x02\x05\x00\x06" + b"\x06V1.10",         # behind a cut frame's start
          bytes([0]),                                             # empty content
          reply(b"abc") + reply(b"def"))                           # two frames as they stand


if __name__ == "__main__":
    for make in (reply_getters, find_frame, hid_join, point_decoder, capture, card_data, entry_answers,
                 picture_list, rsa_block):
        make()
