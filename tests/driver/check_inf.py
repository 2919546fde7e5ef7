#!/usr/bin/env python3
"""Checks MIRRIN.INF against the service provider's table of device-interface GUIDs.

usage: check_inf.py <MIRRIN.INF> <source folder>

Every product the installation tool installs the driver for must have a model line for its
hardware id, and its hardware key must get the product's interface GUID as the REG_SZ value
"DeviceGUID": the driver registers the player under that GUID and the service provider looks
for it there. The GUIDs are read from the provider's own table (usb_interface_guids.cpp,
wherever it lives under the source folder), so the two cannot drift apart.

The file is read twice, as each family of Windows reads it: SetupAPI on Windows 2000 and XP
takes an install section's ".NT" variant when there is one and starts the driver as a
service; the hardware wizard of Windows 98 and ME takes the undecorated section, knows no
services and has NTKERN load the driver named by "NTMPDriver". Both read only a "$CHICAGO$"
signature ("$Windows NT$" is refused by Windows 98).
"""
import pathlib
import re
import sys

VENDOR = 0x0E21
PRODUCTS = [0x5001, 0x5002, 0x5008, 0x5003, 0x5005, 0x5010, 0x5009, 0x5007, 0x5006, 0x5202,
            0x500C, 0x500D, 0x500E, 0x500F, 0x5210, 0x5220, 0x5221, 0x501C, 0x501D, 0x501E,
            0x501F]


def fail(message):
    print("MIRRIN.INF: " + message)
    sys.exit(1)


def sections(text):
    """{lower-case section name: [lines without comments]}"""
    result, current = {}, None
    for raw in text.split("\r\n"):
        line = raw.split(";", 1)[0].strip() if not raw.lstrip().startswith(";") else ""
        if not line:
            continue
        match = re.fullmatch(r"\[([^\]]+)\]", line)
        if match:
            current = match.group(1).strip().lower()
            if current in result:
                fail("section [%s] appears twice" % match.group(1))
            result[current] = []
        elif current is None:
            fail("text before the first section: " + line)
        else:
            result[current].append(line)
    return result


def provider_guids(source):
    tables = list(pathlib.Path(source).rglob("usb_interface_guids.cpp"))
    if len(tables) != 1:
        fail("expected one usb_interface_guids.cpp under %s, found %d" % (source, len(tables)))
    text = tables[0].read_text()
    rows = re.findall(r"\{\{0x([0-9A-Fa-f]{8}), 0x([0-9A-Fa-f]{4}), 0x([0-9A-Fa-f]{4}), "
                      r"\{([^}]*)\}\}, 0x([0-9A-Fa-f]{4})\}", text)
    guids = {}
    for data1, data2, data3, data4, product in rows:
        tail = "".join("%02X" % int(b, 16) for b in data4.split(","))
        guids[int(product, 16)] = "{%s-%s-%s-%s-%s}" % (
            data1.upper(), data2.upper(), data3.upper(), tail[:4], tail[4:])
    return guids


def value(lines, key):
    for line in lines:
        name, _, rest = line.partition("=")
        if name.strip().lower() == key.lower():
            return rest.strip()
    return None


def directives(lines, key):
    """Every section named by the directives `key` of a section, in order."""
    return [name.strip().lower() for line in lines
            for name in (value([line], key) or "").split(",") if name.strip()]


def registry_writes(inf, lines):
    return [w.replace(" ", "") for name in directives(lines, "AddReg")
            for w in inf.get(name, [])]


def copies_driver(inf, lines, destination, where):
    """The install section copies Mirrin.sys to the folder `destination` names."""
    copy = directives(lines, "CopyFiles")
    dirs = {k.strip().lower(): v.strip().lower()
            for k, _, v in (l.partition("=") for l in inf.get("destinationdirs", []))}
    if not any("mirrin.sys" in [f.lower() for f in inf.get(c, [])] and dirs.get(c) == destination
               for c in copy):
        fail("%s does not copy Mirrin.sys to %s" % (where, destination))


def check_nt_reading(inf, install, hardware_id, expected_guid):
    """Windows 2000 and XP: the .NT sections, the service and the hardware key."""
    for suffix in (".nt", ".nt.hw", ".nt.services"):
        if install + suffix not in inf:
            fail("no section [%s%s]" % (install, suffix))
    copies_driver(inf, inf[install + ".nt"], "12", install + ".NT")
    services = inf[install + ".nt.services"]
    if not any(re.fullmatch(r"AddService\s*=\s*Mirrin\s*,\s*0x0*2\s*,.*", l, re.I)
               for l in services):
        fail(install + " does not install the Mirrin service as the function driver")
    writes = registry_writes(inf, inf[install + ".nt.hw"])
    if writes != [expected_guid]:
        fail("%s on Windows NT writes %s, not %s" % (hardware_id, writes, expected_guid))


def check_9x_reading(inf, install, hardware_id, expected_guid):
    """Windows 98 and ME: the undecorated sections, NTKERN as loader, the hardware key."""
    for suffix in ("", ".hw"):
        if install + suffix not in inf:
            fail("no section [%s%s] for Windows 98" % (install, suffix))
    copies_driver(inf, inf[install], "10,system32\\drivers", install)
    loader = registry_writes(inf, inf[install])
    for needed in ("HKR,,DevLoader,,*ntkern", "HKR,,NTMPDriver,,Mirrin.sys"):
        if needed not in loader:
            fail("%s on Windows 98 does not write %s" % (hardware_id, needed))
    writes = registry_writes(inf, inf[install + ".hw"])
    if writes != [expected_guid]:
        fail("%s on Windows 98 writes %s, not %s" % (hardware_id, writes, expected_guid))


def main():
    inf_path, source = sys.argv[1], sys.argv[2]
    raw = pathlib.Path(inf_path).read_bytes()
    if b"\r\n" not in raw or b"\n" in raw.replace(b"\r\n", b""):
        fail("lines must end with CR LF")
    text = raw.decode("ascii")
    inf = sections(text)
    version = inf.get("version") or fail("no [Version]")
    if (value(version, "Signature") or "").lower() != '"$chicago$"':
        fail("Signature: both families read only \"$CHICAGO$\"")
    driver_ver = value(version, "DriverVer") or fail("no DriverVer")
    if not re.fullmatch(r"\d\d/\d\d/\d{4},\d+\.\d+\.\d+\.\d+", driver_ver):
        fail("DriverVer is not month/day/year,version: " + driver_ver)
    if (value(version, "CatalogFile") or "").upper() != "MIRRIN.CAT":
        fail("CatalogFile")
    for line in inf.get("sourcedisksfiles") or fail("no [SourceDisksFiles]"):
        if line.count(",") < 2:
            fail("Windows 98 needs every comma of a source file entry: " + line)

    manufacturer = inf.get("manufacturer") or fail("no [Manufacturer]")
    models = value(manufacturer, manufacturer[0].partition("=")[0]).split(",")[0].strip().lower()
    model_lines = inf.get(models) or fail("no models section [%s]" % models)
    install_of = {}
    for line in model_lines:
        _, _, rest = line.partition("=")
        parts = [p.strip() for p in rest.split(",")]
        for hardware_id in parts[1:]:
            install_of[hardware_id.upper()] = parts[0].lower()

    guids = provider_guids(source)
    for product in PRODUCTS:
        hardware_id = "USB\\VID_%04X&PID_%04X" % (VENDOR, product)
        install = install_of.get(hardware_id) or fail("no model line for " + hardware_id)
        expected = 'HKR,,DeviceGUID,0x00000000,"%s"' % guids[product]
        check_nt_reading(inf, install, hardware_id, expected)
        check_9x_reading(inf, install, hardware_id, expected)
    if set(install_of) != {"USB\\VID_%04X&PID_%04X" % (VENDOR, p) for p in PRODUCTS}:
        fail("models for other products: %s" % sorted(set(install_of)))

    service = inf.get("mirrin.service") or fail("no [Mirrin.Service]")
    if value(service, "ServiceBinary") != "%12%\\Mirrin.sys" or value(service, "ServiceType") != "1":
        fail("the service is not the kernel driver Mirrin.sys")
    print("MIRRIN.INF: %d products checked for Windows 98 and for Windows 2000" % len(PRODUCTS))


main()
