#!/usr/bin/env python3
"""Writes the small seed inputs of the fuzz targets into fuzz/corpus/<target>/."""
import hashlib
import io
import json
import pathlib
import struct
import zipfile

root = pathlib.Path(__file__).resolve().parent / "corpus"


def seed(target, name, data):
    folder = root / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data if isinstance(data, bytes) else data.encode())


def descriptor(project, version):
    fields = struct.pack("<III", 0xABCD5432, 0, 0) + bytes(8)
    fields += version.encode().ljust(32, b"\0") + project.encode().ljust(32, b"\0")
    fields += b"14:03:11".ljust(16, b"\0") + b"Nov  2 2026".ljust(16, b"\0") + b"v5.1.4".ljust(32, b"\0")
    return fields.ljust(256, b"\0")


def image(segments, chip=9, hashed=True):
    header = struct.pack("<BBBBI", 0xE9, len(segments), 2, 0x2F, 0x40378000)
    header += struct.pack("<B3sHBHH4sB", 0xEE, bytes(3), chip, 0, 0, 99, bytes(4), 1 if hashed else 0)
    body, checksum = b"", 0xEF
    for address, data in segments:
        body += struct.pack("<II", address, len(data)) + data
        for byte in data:
            checksum ^= byte
    data = header + body
    data += bytes(15 - len(data) % 16) + bytes([checksum])
    return data + (hashlib.sha256(data).digest() if hashed else b"")


def table(entries, md5=True):
    data = b"".join(struct.pack("<BBBBII16sI", 0xAA, 0x50, kind, sub, offset, size, label.encode(), 0)
                    for kind, sub, offset, size, label in entries)
    if md5:
        data += b"\xEB\xEB" + b"\xFF" * 14 + hashlib.md5(data).digest()
    return data + b"\xFF" * 32


def zipped(files, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", method) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return buffer.getvalue()


application = image([(0x3C020020, descriptor("olvex_fw", "1.4.2") + bytes(64)), (0x3FC88000, b"\x11" * 48)])
bootloader = image([(0x3FCE3808, b"\x22" * 64)], hashed=False)
partitions = table([(1, 2, 0x9000, 0x5000, "nvs"), (1, 0, 0xE000, 0x2000, "otadata"),
                    (0, 0x10, 0x10000, 0x140000, "app0"), (0, 0x11, 0x150000, 0x140000, "app1")])

seed("ziplisting", "build.zip", zipped({"build/sketch.ino.bin": application, "build/sketch.ino.partitions.bin": partitions}))
seed("ziplisting", "stored.zip", zipped({"a.txt": "olvex\n", "dir/": ""}, zipfile.ZIP_STORED))
seed("ziplisting", "empty.zip", zipped({}))

seed("espimage", "application.bin", application)
seed("espimage", "bootloader.bin", bootloader)
seed("espimage", "partitions.bin", partitions)
seed("espimage", "esp8266.bin", struct.pack("<BBBBI", 0xE9, 1, 0, 0, 0x40100000) + struct.pack("<II", 0x40100000, 8)
     + b"\x33" * 8 + bytes(7) + bytes([0xEF]))


def package(boot, part, app):
    return struct.pack("<HH", len(boot), len(part)) + boot + part + app


seed("packageinspection", "sound", package(bootloader, partitions, application))
seed("packageinspection", "wrong-chip", package(image([(0x3FCE3808, b"\x22" * 16)], chip=5), partitions, application))
seed("packageinspection", "small-partition", package(bootloader, table([(0, 0x10, 0x10000, 0x100, "app0")]), application))

seed("filenames", "cp857", b"G\x81ncelleme_\x9f\x8d\x98.bin")
seed("filenames", "utf8", "Güncelleme.bin")
seed("filenames", "tilde", b"a\x80~1.b\x81n")

app_bytes = b"\xE9\x01"
manifest = {"format": 1, "chip": "esp32s3", "keyId": "0123456789abcdef",
            "application": {"projectName": "olvex_fw", "version": "1.4.2"}, "signedAt": "2026-11-02T14:03:11Z",
            "images": [{"path": "build/sketch.ino.bin", "offset": 0x10000, "size": len(app_bytes),
                        "sha256": hashlib.sha256(app_bytes).hexdigest()}]}
seed("manifest", "matching.json", json.dumps(manifest, indent=4))
manifest["images"].append({"path": "build/other.bin", "offset": 0, "size": 1, "sha256": "00"})
seed("manifest", "extra-entry.json", json.dumps(manifest))
seed("manifest", "wrong-format.json", '{"format": 2, "chip": "esp32s3", "images": []}')

chip_query = ("esptool v5.1.0\nConnected to ESP32-S3 on /dev/ttyACM0:\n"
              "Chip type:          ESP32-S3 (QFN56) (revision v0.2)\n"
              "Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz\n"
              "USB mode:           USB-Serial/JTAG\nMAC:                7c:df:a1:00:11:22\n\nHard resetting via RTS pin...\n")
write = "".join(f"\rWriting at 0x{0x10000 + i * 0x4000:08x} [{'=' * i:<30}] {i * 100 / 30:5.1f}% {i * 10000}/300000 bytes... "
                for i in range(0, 31, 5)) + "\nWrote 300000 bytes (168035 compressed) at 0x00010000 in 3.1 seconds.\n"
old_write = "".join(f"Writing at 0x{0x10000 + i * 0x4000:08x}... ({i * 10} %)\n" for i in range(11))
seed("esptooloutput", "chip-query", b"\x07" + chip_query.encode())
seed("esptooloutput", "write", b"\x01" + write.encode())
seed("esptooloutput", "split-letter", b"\x00" + "Bağlanıyor…\r\nÇıktı\n".encode() + b"\xc4")

seed("progress", "write", write.replace("\r", "\n"))
seed("progress", "old-write", "Writing at 0x00000000... (100 %)\nWriting at 0x00008000... (100 %)\n" + old_write)
seed("progress", "verify", "Hash of data verified.\nCompressed 3072 bytes to 146...\nLeaving...\n")

seed("chipsummary", "chip-query", chip_query)
seed("chipsummary", "blanks", "Chip type:\t\u00a0ESP32-S3\u2003\t\nMAC: aa:bb\n")
seed("chipsummary", "no-colon", "Chip type ESP32-S3\nFeatures: Wi-Fi\n")
