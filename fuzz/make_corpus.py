#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target (fuzz/corpus/<target>/) from the protocol's
example frames and texts. Run it again after changing an input layout of a target."""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def frame(cmd_data):
    body = bytes(cmd_data) + crc16(cmd_data).to_bytes(2, "big")
    out = bytearray()
    for b in body:
        out += {0xFE: b"\xff\x01", 0xFF: b"\xff\x00"}.get(b, bytes([b]))
    return bytes([0xFE, len(out) % 256]) + bytes(out)


def h(text):
    return bytes.fromhex(text)


# Answers of the reader: command byte + payload.
ANSWERS = {
    0: h("FE") + "Kiren-M1 v5.3".encode("cp1251"),  # version
    1: h("FF 80 01"),  # status: card present
    2: h("A0 80 01 00 04 08 04 11 22 33 44"),  # card type
    3: h("55 03 04 11 22 33 44 55 66 00 00 01 02 00 05 00 00 00 0A") + b"123",
    4: h("50 FF FF FF FF FF 01 00 00 00 02 00 00 00 00 03 00 00 00 00"),
    5: h("E5 01"),  # cleared
    6: h("21") + b"81:12,0,4,1;82:1;168:0",
    7: h("A7 00 01"),
    8: h("A1 00 01"),
    9: h("A2 00 01 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"),
    10: h("A3 00 01"),
    11: h("52 01"),
    12: h("51 00 01"),
    13: h("A8 01 00 01"),
}

# Wire frames of the requests (command bytes -> frame), and received-byte examples.
REQUESTS = [h("FE"), h("FF"), h("A0"), h("55"), h("52 02"), h("A2 04 AA")]


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    shutil.rmtree(os.path.join(HERE, "corpus"), ignore_errors=True)

    # fuzz_frame: size shift (3 -> 0), start position (4 -> 3), trim flag, received bytes.
    head = bytes([3, 4, 1])
    for i, req in enumerate(REQUESTS):
        write("fuzz_frame", f"request_{i}", head + frame(req))
    write("fuzz_frame", "leading_bytes", head + h("00 12 FE 03 A0 54 1A"))
    write("fuzz_frame", "trailing_bytes", head + frame(h("FF 80 01")) + h("00 00"))
    write("fuzz_frame", "escapes", head + h("FE 06 FF 02 FF FF 00 FF"))
    write("fuzz_frame", "empty_command", head + h("FE 04 FF 00 FF 00"))

    # fuzz_protocol: operation, form (0 raw wire bytes, 1 framed payload), other command,
    # chunk size, parameter length, parameters, answer.
    for op, answer in ANSWERS.items():
        params = h("AA FF FF FF FF FF FF 04 00 04 01") if op != 7 else b"\x01\x03100\x017"
        raw = bytes([op, 0, 0, 8, len(params)]) + params + frame(answer)
        write("fuzz_protocol", f"op{op:02}_wire", raw)
        framed = bytes([op, 1, 0, 66, len(params)]) + params + answer[1:]
        write("fuzz_protocol", f"op{op:02}_payload", framed)
    write("fuzz_protocol", "half_frame", bytes([1, 0, 0, 3, 0]) + frame(h("FF 80 01"))[:3])

    # fuzz_card_content: code size (8 -> 4), payload.
    size4 = bytes([8])
    write("fuzz_card_content", "sorvel", size4 + ANSWERS[4][1:])
    write("fuzz_card_content", "sorvel_v",
          size4 + h("FF FF FF FF 0F 01 00 00 00 02 00 00 00 00 03 0A 0B 0C 0D 00"))
    write("fuzz_card_content", "short", size4 + h("12 34 56 78 9A"))
    write("fuzz_card_content", "universal", size4 + h("FF FF FF D4 00 00 11 22 33 44"))
    write("fuzz_card_content", "universal_sorvel",
          size4 + h("FF FF FF DA 02 00 00 00 00 00 05") + bytes(9))
    write("fuzz_card_content", "ex_sorvel", size4 + ANSWERS[3][1:])
    write("fuzz_card_content", "ex_value", size4 + h("07") + ANSWERS[3][2:])
    write("fuzz_card_content", "ex_fixed", size4 + h("01") + bytes(17))

    # fuzz_config: configuration texts.
    write("fuzz_config", "full", b"81:12,0,4,1;82:1;168:0")
    write("fuzz_config", "trailing", b"81:0,0,4,0;")
    write("fuzz_config", "no_colon", b"82;168:")
    write("fuzz_config", "cyrillic", "81:1,2;82:эмиссия".encode("cp1251"))

    # fuzz_serial_settings: line settings texts.
    for i, text in enumerate(["115200-8-N-1", "9600-7-e-2", "19200-8-s-1-x", "115200-8-N-1.5",
                              "115200-9-N-1", "115200-8--1", "-8-N-1", "115200-8-N"]):
        write("fuzz_serial_settings", f"text_{i}", text.encode())

    # fuzz_firmware: card kind (0 Classic 1K), UID length flag, UID, fault bits, segments
    # (bit 7 framed, bits 0-6 length).
    card = bytes([0, 0]) + h("04 11 22 33") + bytes([0])
    seq = b""
    for cmd in [h("FE"), h("FF"), h("A0"), h("55"), h("50"), h("21"), h("52 02"),
                h("A1 AA FF FF FF FF FF FF"), h("A2 04 AA"), h("A3 04 AA") + bytes(range(16)),
                h("51 FF FF FF FF FF FF 04 00 04 00"), h("A8 02"),
                h("A7 01 64 00 00 00 07 00 00 00 00 00 FF FF FF FF FF FF"), h("E5")]:
        seq += bytes([0x80 | len(cmd)]) + cmd
    write("fuzz_firmware", "session", card + seq)
    write("fuzz_firmware", "no_card", bytes([6, 0]) + seq)
    split = frame(h("FF"))
    write("fuzz_firmware", "split_frame",
          card + bytes([3]) + split[:3] + bytes([len(split) - 3]) + split[3:])
    write("fuzz_firmware", "faults", bytes([0, 0]) + h("04 11 22 33") + bytes([0xBF, 0, 0]) + seq)

    # fuzz_settings_ini: settings files.
    write("fuzz_settings_ini", "normal",
          b"[Common]\r\nBlockNo=4\r\nOffset=0\r\nSize=5\r\nLBS=1\r\nCardCode=0x0A0B\r\n")
    write("fuzz_settings_ini", "garbage", b"[Common\nBlockNo==\n\x00\xff\nCardCode=\"0x\n")


if __name__ == "__main__":
    main()
