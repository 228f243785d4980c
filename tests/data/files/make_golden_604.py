#!/usr/bin/env python3
"""Writes golden.604, the configuration file that tests/files expects for the document laid
out in configuration_file_test.cpp (GoldenDocument). The bytes are put together here from the
file layout alone, independently of the program: class header, service element, version, the
22 name texts, table name, table size, operational count, keyed parameter records.

Run: python3 tests/data/files/make_golden_604.py tests/data/files/golden.604
"""
import struct
import sys


def u8(v):
    return struct.pack('<B', v)


def u16(v):
    return struct.pack('<H', v)


def u32(v):
    return struct.pack('<I', v & 0xFFFFFFFF)


def text(s):
    b = s.encode('cp1251')
    n = len(b)
    if n < 0xFF:
        return u8(n) + b
    if n < 0xFFFE:
        return u8(0xFF) + u16(n) + b
    return u8(0xFF) + u16(0xFFFF) + u32(n) + b


def hash_name(name):
    codes = []
    for ch in name[:8]:
        if 'a' <= ch <= 'z':
            ch = ch.upper()
        if len(codes) == 5:
            break
        if ch == '.' and codes:
            codes[-1] += 1
        elif ch == ' ':
            codes.append(78)
        elif ch == '_':
            codes.append(74)
        elif ch == '-':
            codes.append(72)
        elif 'A' <= ch <= 'Z':
            codes.append((ord(ch) - 55) * 2)
        elif '0' <= ch <= '9':
            codes.append((ord(ch) - 48) * 2)
    if not codes:
        return 0
    codes += [78] * (4 - len(codes))
    reg = 0
    for code in codes[:4]:
        for bit in range(6, -1, -1):
            b = (code >> bit) & 1
            top = (reg >> 15) & 1
            reg = (reg << 1) & 0xFFFF
            if b != top:
                reg ^= 0x8F57
    return reg


# The worked values of the name hash.
assert hash_name('n.Err') == 0x0233
assert hash_name('APLY') == 0x8403


def record(name, value, indexed=0, index=0, offset=0, note='', changed=0, edit_changed=0,
           owner_changed=0, editable=1, factory=0, reserved=0, desc=0):
    return (text(name) + text(value) + u8(indexed) + u32(index) + u32(offset) + u8(0) + u8(0) +
            text(note) + u8(changed) + u8(edit_changed) + u8(owner_changed) + u8(editable) +
            u8(factory) + u32(reserved) + u8(desc))


def key(name, indexed=False, index=0):
    return u32(((index & 0xFFFF if indexed else 0xFFFF) << 16) | hash_name(name))


LONG = 'Очень длинное имя установки: ' + 'ТАЛВ KBA604 ' * 24

out = b''
out += u16(0xFFFF) + u16(1) + u16(10) + b'CKBA604Doc'
out += text('Сервисные параметры программы') + u32(3)
out += record(' ', '1.0.0')
out += record('  ', '(c) ТАЛВ')
out += record('   ', 'Linux 6.1 x86_64')
out += text('2.15')
names = ['Имя не задано'] * 22
names[0] = 'Котельная №3'
names[7] = LONG
for n in names:
    out += text(n)
out += text('parameters.zip') + u32(5) + u32(1)
# table: ver, r.St, Set.P[3], T.in (operational, not stored), n.Ch
out += key('ver') + record('ver', '2.15', editable=0, factory=1)
out += key('r.St') + record('r.St', '-1', note='Таймаут при передаче данных (нет связи)',
                            changed=1)
out += key('Set.P', True, 3) + record('Set.P', '25.5', indexed=1, index=3, offset=2,
                                      edit_changed=1, owner_changed=1, editable=0, factory=1,
                                      reserved=-7, desc=1)
out += key('n.Ch') + record('n.Ch', '2')

assert len(text(LONG).split(b'\x00')[0]) >= 1 and len(LONG.encode('cp1251')) > 255

with open(sys.argv[1], 'wb') as f:
    f.write(out)
