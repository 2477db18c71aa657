"""End-to-end cases of installations, removals, the check and the command line."""

import os
import re
import subprocess

from e2e_model import *  # noqa: F401,F403
from e2e_wine import *  # noqa: F401,F403


def typical_install(h, prefix, version_line, wide, edition=STANDARD, args=None):
    ports, assigned = standard_facts(h, prefix, edition)
    pieces = install_transcript(Expect(edition=edition, version_line=version_line, wide=wide,
                                       ports=ports, assigned=assigned, args=args))
    result = prefix.install(*(args or []))
    check_run(result, pieces, 0, "install")
    check_spooler_calls(result, install_spooler_calls(edition, wide, ports), "install")
    return ports, assigned, pieces


@test
def win7_64bit_typical_install(h):
    prefix = h.prefix("win7-64-typical")
    # A site script beside the installer must not run for a run without arguments.
    (prefix.path / "drive_c" / "Kit" / "install_printer.bat").write_bytes(
        b"@echo off\r\necho ran> C:\\" + SCRIPT_MARKER.encode() + b"\r\n")
    # Read-only leftovers of an older installation: the old monitor DLL goes,
    # the current one is replaced.
    plant_read_only(prefix.system32 / "TOLVO64.DLL")
    plant_read_only(prefix.system32 / STANDARD.monitor64)
    ports, assigned, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, STANDARD, True)
    check_system_files(prefix, STANDARD, True)
    check(ci_child(prefix.system32, "TOLVO64.DLL") is None, "the old TOLVO64.DLL was kept")
    check_ports(prefix, STANDARD, ports)
    check_event_source(prefix)
    check_printers(prefix, final_ports(assigned))
    check_client(prefix)
    check_fonts(prefix, STANDARD)
    check(not prefix.host("C:\\" + SCRIPT_MARKER).exists(),
          "install_printer.bat ran after an install without arguments")
    return prefix


@test
def check_after_install(h):
    """-v after a typical installation, after one printer was named in two letter cases and
    installed again, and after one port was deleted behind its back."""
    prefix = h.prefix("check")
    ports, _, _ = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    port = ports[0]["PortName"]

    def one_printer_two_cases():
        # The spooler takes both names for one printer, which ends on the later port.
        prefix.probe("add-printer", "B\xfcro")
        ini = prefix.host("C:\\Kit\\Tolvo.ini")
        ini.write_bytes(ini.read_bytes() + "AssignPrinter2=B\xfcro\r\n[2]\r\nServerIP=10.0.0.2\r\n"
                        "AssignPrinter=B\xdcRO\r\n".encode("cp1252"))
        check(prefix.install().rc == 0, "installation naming one printer in two letter cases")
        check_printers(prefix, {"B\xfcro": "Tolvo002"})

    for spoil, rc, line in (
            (None, 0, "\nTolvo Port Monitor Installed as Configured.\n"),
            (one_printer_two_cases, 0, "    OK - Printer 'B\xdcRO' on port Tolvo002\n"),
            (lambda: prefix.probe("xcv", STANDARD.word, "DeletePort", port), 1,
             "    ERROR - Port %s NOT found\n" % port)):
        if spoil:
            spoil()
        result = prefix.install("-v")
        check(result.rc == rc and line.replace("\n", "\r\n").encode("cp1252") in result.out and
              (b"ERROR" in result.out) == (rc != 0),
              "check: exit code %d, expected %d with %r\n%s" % (
                  result.rc, rc, line, result.out.decode("cp1252")))
        check_spooler_calls(result, [], "check")
        log = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
        check(log.endswith(result.out), "the check's transcript is not at the run log's end")
    return prefix


@test
def win7_64bit_traced_install(h):
    """The typical install with a support trace: the same console and log, and the calls."""
    prefix = h.prefix("win7-64-traced")
    prefix.env["TOLVO_TRACE"] = "C:\\tolvo-trace.txt"
    ports, _, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    check_log(prefix, log_bytes(pieces), "traced install")
    trace = prefix.host("C:\\tolvo-trace.txt").read_text("cp1252")
    names = re.findall(r"^ *[0-9]+ (\w+)\(", trace, re.M)
    for name, times in (("AddMonitorA", 1), ("XcvDataW", 2 * len(ports)), ("OpenPrinterA", None),
                        ("SetPrinterA", None), ("ClosePrinter", None)):
        check(names.count(name) == times if times else name in names,
              "the trace has %d %s lines\n%s" % (names.count(name), name, trace))
    check(re.search(r"^ *[0-9]+ DeleteMonitorA\(.*\) = FALSE error 3000 "
                    r"ERROR_UNKNOWN_PRINT_MONITOR$", trace, re.M),
          "the trace lacks the refusal of DeleteMonitorA\n" + trace)
    # A trace file that cannot be opened costs one line on the error stream.
    prefix.env["TOLVO_TRACE"] = "C:\\no such folder\\trace.txt"
    result = prefix.run(["C:\\Kit\\Install.exe", "-?"])
    check_equal(result.out, console_bytes(banner(STANDARD) + [(USAGE, False)]), "usage")
    check(result.rc == 255 and result.err.count(b"\n") == 1 and b"TOLVO_TRACE" in result.err,
          "unopenable trace file: exit code %d, error stream %r" % (result.rc, result.err))
    # So is a file with a second name (a planted hard link): what it leads to stays as it was.
    prefix.host("C:\\victim.txt").write_bytes(b"victim")
    os.link(prefix.host("C:\\victim.txt"), prefix.host("C:\\planted.txt"))
    prefix.env["TOLVO_TRACE"] = "C:\\planted.txt"
    result = prefix.run(["C:\\Kit\\Install.exe", "-?"])
    check(result.err.count(b"\n") == 1 and prefix.host("C:\\victim.txt").read_bytes() == b"victim",
          "trace file with a second name: error stream %r" % result.err)
    # A run log of that name is one that cannot be opened.
    del prefix.env["TOLVO_TRACE"]
    result = prefix.run(["C:\\Kit\\Install.exe", "-?", "-lC:\\planted.txt"])
    check(result.rc == 255 and not result.out and prefix.host("C:\\victim.txt").read_bytes() ==
          b"victim", "run log with a second name: exit code %d, %r" % (result.rc, result.out))
    return prefix


@test
def traced_install_shows_no_piece_of_the_password(h):
    """A long password: no 4 characters of it in the console, the run log or the trace."""
    prefix = h.prefix("traced-long-values")
    password = "Qz~" * 68
    prefix.host("C:\\Kit\\Tolvo.ini").write_bytes(
        ("[1]\r\nServerIP=%s\r\nDescription=%s\r\nQueue=%s\r\nAuthText=%s\r\n"
         % ("1" * 259, "d" * 259, "q" * 259, password)).encode())
    prefix.env["TOLVO_TRACE"] = "C:\\tolvo-trace.txt"
    result = prefix.install()
    check(result.rc == 0 and b" Type:1 ********\r\n" in result.out, "exit code %d" % result.rc)
    # Wine lets Everyone read a file of mode 644: one line says so, and the run goes on.
    check(re.fullmatch(rb'Warning: the password \(AuthText\) in "C:\\Kit\\Tolvo.ini" can be read '
                       rb"by Everyone: .*\r\n", result.err), "error stream %r" % result.err)
    trace = prefix.host("C:\\tolvo-trace.txt").read_bytes()
    log = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
    shown = [i for i in range(len(password) - 3) for text in (result.out, log, trace)
             if password[i:i + 4].encode() in text]
    check(not shown and max(map(len, trace.split(b"\n"))) < 4096, "pieces at %r\n%s" % (
        shown[:5], trace.decode("cp1252")))
    return prefix


@test
def win7_64bit_reinstall_and_uninstall(h):
    """Printers keep their ports through a re-installation, and go back onto their ports
    from before the first assignment when the monitor is removed."""
    prefix = h.prefix("win7-64-reinstall")
    line = "    (64-bit Windows 7 Detected)\n"
    ini = prefix.host("C:\\Kit\\Tolvo.ini")
    ini.write_bytes(ini.read_bytes().rstrip() + b"\r\nAssignPrinter2=Moved Later\r\n"
                    b"[2]\r\nServerIP=10.0.0.2\r\n[3]\r\nServerIP=10.0.0.3\r\n")
    source = IniSource(ini)
    ports = read_ports(source, STANDARD)
    assigned = assignments(source, len(ports), STANDARD)
    for printer, ports_of_printer in (("Tolvo Test Printer", "LPT1:,COM1:"),
                                      ("Moved Later", "COM2:"), ("Bystander", "LPT2:")):
        prefix.probe("add-printer", printer)
        prefix.probe("set-port", printer, ports_of_printer)
    first = install_transcript(Expect(version_line=line, ports=ports, assigned=assigned))
    check_run(prefix.install(), first, 0, "install")
    # Put on the monitor's ports by hand: one alone, one pooled with a parallel port (the
    # monitor port named in another letter case).
    for printer, ports_of_printer in (("Hand Set", "Tolvo002"), ("Pooled", "LPT1:,tolvo003")):
        prefix.probe("add-printer", printer)
        prefix.probe("set-port", printer, ports_of_printer)
    monitor_ports = [cfg["PortName"] for cfg in ports]

    # Re-installation over the first one: every printer ends where it was, the configured
    # ones on their configured port.
    pieces = install_transcript(Expect(
        version_line=line, ports=ports, assigned=assigned, monitor_present=True,
        disconnect=disconnect_block(prefix.printers(), monitor_ports, STANDARD),
        put_back=[("Hand Set", "Tolvo002"), ("Pooled", "LPT1:,tolvo003")]))
    result = prefix.install()
    check_run(result, pieces, 0, "re-install")
    check_spooler_calls(result, install_spooler_calls(STANDARD, True, ports), "re-install")
    log = log_bytes(first) + log_bytes(pieces)
    check_log(prefix, log, "re-install")
    check_monitor(prefix, STANDARD, True)
    check_system_files(prefix, STANDARD, True)
    check_ports(prefix, STANDARD, ports)
    check_printers(prefix, dict(final_ports(assigned), Bystander="LPT2:", Pooled="LPT1:,tolvo003",
                                **{"Hand Set": "Tolvo002"}))
    check_client(prefix)  # Quarvel ended the first client: exactly one runs
    check_fonts(prefix, STANDARD)

    # Uninstallation: the assigned printer goes back onto its ports from before; one moved
    # since the assignment is released as it is.
    prefix.probe("set-port", "Moved Later", "Tolvo001,LPT2:")
    pieces = uninstall_transcript(STANDARD, line,
                                  disconnect_block(prefix.printers(), monitor_ports, STANDARD),
                                  put_back=[("Tolvo Test Printer", "LPT1:,COM1:")])
    result = prefix.install("-u")
    check_run(result, pieces, 0, "uninstall")
    check_spooler_calls(result, [("DeleteMonitor", None, None, "Tolvo")], "uninstall")
    log += log_bytes(pieces)
    check_log(prefix, log, "uninstall")
    check_monitor(prefix, STANDARD, True, present=False)
    check_ports(prefix, STANDARD, ports, present=False)
    check_system_files(prefix, STANDARD, True, present=False)
    check_printers(prefix, {"Tolvo Test Printer": "LPT1:,COM1:", "Moved Later": "LPT2:",
                            "Bystander": "LPT2:", "Hand Set": "FILE:", "Pooled": "LPT1:"})
    check_client(prefix, present=False)
    check_fonts(prefix, STANDARD, present=False)
    check(not prefix.host(prefix.program_files + "\\Kestrum").exists(),
          "the Kestrum folder was left behind")
    check_event_source(prefix)  # uninstallation keeps the event source

    # A second uninstallation finds no monitor and still succeeds.
    pieces = uninstall_transcript(STANDARD, line, monitor_present=False)
    check_run(prefix.install("-u"), pieces, 0, "second uninstall")
    check_log(prefix, log + log_bytes(pieces), "second uninstall")
    check(not prefix.reg_key_exists(MAKER_KEY, "32"), "uninstall left " + MAKER_KEY)
    return prefix


@test
def printer_moved_after_its_release(h):
    """A printer released to wait for a port the configuration dropped and then moved by the
    administrator is no error for the check, and the next installation leaves it there."""
    prefix = h.prefix("moved-after-release")
    ports, _, _ = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    ini = prefix.host("C:\\Kit\\Tolvo.ini")
    configured = ini.read_bytes()
    ini.write_bytes(configured.rstrip() + b"\r\n[2]\r\nServerIP=10.0.0.2\r\n")
    check(prefix.install().rc == 0, "installation with a second port")
    prefix.probe("add-printer", "Hand Set")
    prefix.probe("set-port", "Hand Set", "Tolvo002")
    ini.write_bytes(configured)
    result = prefix.install()
    check(result.rc == 0 and b"(Printer 'Hand Set' Waits for Port Tolvo002)" in result.out,
          "installation without the second port:\n" + result.out.decode("cp1252"))
    prefix.probe("set-port", "Hand Set", "LPT1:")
    result = prefix.install("-v")
    check(result.rc == 0 and b"ERROR" not in result.out and
          b"    OK - Printer 'Hand Set' on port LPT1:, moved there since its release\r\n"
          in result.out, "check:\n" + result.out.decode("cp1252"))
    check(prefix.install().rc == 0, "installation after the move")
    check_printers(prefix, {"Hand Set": "LPT1:"})
    return prefix


@test
def win7_32bit_install_and_uninstall(h):
    prefix = h.prefix("win7-32", wide=False)
    line = "    (32-bit Windows 7 Detected)\n"
    ports, assigned, pieces = typical_install(h, prefix, line, False)
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, STANDARD, False)
    env = [m[1] for m in prefix.monitors() if m[0] == STANDARD.word]
    check(env == ["Windows NT x86"], "monitor environment %r" % env)
    check_system_files(prefix, STANDARD, False)
    check_ports(prefix, STANDARD, ports)
    check_event_source(prefix)
    check_printers(prefix, final_ports(assigned))
    check_client(prefix)
    check_fonts(prefix, STANDARD)

    printers = prefix.printers()
    pieces = uninstall_transcript(
        STANDARD, line, disconnect_block(printers, [c["PortName"] for c in ports], STANDARD),
        put_back=assigned_put_back(assigned))
    check_run(prefix.install("-u"), pieces, 0, "uninstall")
    check_monitor(prefix, STANDARD, False, present=False)
    check_system_files(prefix, STANDARD, False, present=False)
    check_client(prefix, present=False)
    check_fonts(prefix, STANDARD, present=False)
    return prefix


@test
def win7_32bit_enterprise(h):
    prefix = h.prefix("win7-32-enterprise", wide=False)
    line = "    (32-bit Windows 7 Detected)\n"
    ports, assigned, pieces = typical_install(h, prefix, line, False, ENTERPRISE, ["-a"])
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, ENTERPRISE, False)
    check_monitor(prefix, STANDARD, False, present=False)
    check_system_files(prefix, ENTERPRISE, False)
    check_ports(prefix, ENTERPRISE, ports)
    check(all(c["PortName"].startswith("TolvoE") for c in ports), "Enterprise port names")
    check_printers(prefix, final_ports(assigned))
    check(not prefix.host(client_dir(prefix)).exists(), "the Enterprise edition deployed a client")
    check(prefix.reg_value(RUN_KEY, "Tolvo Client") is None, "Enterprise start-up entry")
    check(client_count(prefix) == 0, "a client runs after an Enterprise install")
    check_fonts(prefix, ENTERPRISE)
    check(not prefix.host(font_dir(prefix, STANDARD)).exists(), "Standard font folder created")

    printers = prefix.printers()
    pieces = uninstall_transcript(
        ENTERPRISE, line,
        disconnect_block(printers, [c["PortName"] for c in ports], ENTERPRISE),
        put_back=assigned_put_back(assigned))
    check_run(prefix.install("-a", "-u"), pieces, 0, "Enterprise uninstall")
    check_monitor(prefix, ENTERPRISE, False, present=False)
    check_system_files(prefix, ENTERPRISE, False, present=False)
    check_fonts(prefix, ENTERPRISE, present=False)
    return prefix


@test
def win7_64bit_enterprise(h):
    prefix = h.prefix("win7-64-enterprise")
    plant_read_only(prefix.system32 / "TOLVO64.DLL")  # the Standard edition's old DLL
    ports, assigned, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n",
                                              True, ENTERPRISE, ["-a"])
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, ENTERPRISE, True)
    check_system_files(prefix, ENTERPRISE, True)
    check(ci_child(prefix.system32, "TOLVO64.DLL") is not None,
          "the Enterprise edition removed TOLVO64.DLL")
    check_ports(prefix, ENTERPRISE, ports)
    check_printers(prefix, final_ports(assigned))
    check(not prefix.host(client_dir(prefix)).exists(), "the Enterprise edition deployed a client")
    check_fonts(prefix, ENTERPRISE)
    return prefix


def version_test(name, version, wide, line):
    def run(h):
        prefix = h.prefix(name, wide=wide, version=version)
        ports, assigned, _ = typical_install(h, prefix, line, wide)
        check_monitor(prefix, STANDARD, wide)
        check_system_files(prefix, STANDARD, wide)
        check_ports(prefix, STANDARD, ports)
        return prefix
    run.__name__ = name.replace("-", "_")
    TESTS.append(run)


version_test("winxp-32", "winxp", False, "    (Windows XP Detected)\n")
version_test("win2003-32", "win2003", False, "    (Windows 2003 Detected)\n")
version_test("winxp-64", "winxp", True, "    (Windows XP Detected)\n")
version_test("winxp64-64", "winxp64", True, "    (64-bit Windows XP Detected)\n")
version_test("vista-64", "vista", True, "    (64-bit Windows Vista Detected)\n")
version_test("win2008-64", "win2008", True, "    (64-bit Windows 2008 Server Detected)\n")
version_test("win8-64", "win8", True, "    (64-bit Windows 8 Detected)\n")
# The manifest names nothing after Windows 7, so Windows 10 reports 6.2.
version_test("win10-64", "win10", True, "    (64-bit Windows 8 Detected)\n")


def refused(h, name, version, system):
    prefix = h.prefix(name, wide=False, version=version)
    pieces = banner(STANDARD) + [("\nInstalling Tolvo Port Monitor ...\n", False)]
    pieces += version_block("    (%s Detected)\n" % system)
    pieces += [("ERROR: Unsupported Operating System Detected.\n", False),
               ("\nTolvo Port Monitor Not Installed!\n", False)]
    result = prefix.install()
    check_run(result, pieces, 255, "install on " + system)
    check_spooler_calls(result, [], "install on " + system)
    check_log(prefix, log_bytes(pieces), "install on " + system)
    check_monitor(prefix, STANDARD, False, present=False)
    check(ci_child(prefix.system32, STANDARD.monitor32) is None, "files copied on " + system)
    return prefix


@test
def win2000_refused(h):
    return refused(h, "win2k-32", "win2k", "Windows 2000")


@test
def win98_refused(h):
    """Wine's win98 answers the security calls with 120: the version is known before the lock."""
    return refused(h, "win98-32", "win98", "Windows 98")


@test
def config_from_registry(h):
    prefix = h.prefix("registry-config")
    (prefix.path / "drive_c" / "Kit" / "Tolvo.ini").unlink()  # -r does not need it
    sections = {
        1: {"ServerIP": "192.168.7.10", "ServerIP3": "192.168.7.12", "IPLoadBalancing": 2,
            "IPLoadBalancing3": 5, "ServerPort": " 0x23f0", "LoadBalancing": b"\x02\0\0\0",
            "Description": "Registry port one",
            "Queue": "reg-queue", "AuthType": 2, "AuthText": "token", "ProtocolLevel": 5,
            "Note": "from the registry", "RedirectToIP": "10.9.9.9", "LogFileCount": 7,
            "AssignPrinter": "Registry Printer A", "AssignPrinter3": "Registry Printer B"},
        2: {"ServerIP": "printsrv.example", "Description": "Registry port two",
            "Encryption": 1, "AssignPrinter": "Absent Printer"},
        # Section 3 is missing, so section 4 is never read.
        4: {"ServerIP": "10.4.4.4"},
    }
    for number, values in sections.items():
        key = "HKLM\\" + STANDARD.config_key + "\\%d" % number
        for value, data in values.items():
            if isinstance(data, bytes):
                kind, data = "REG_BINARY", data.hex()
            else:
                kind = "REG_DWORD" if isinstance(data, int) else "REG_SZ"
            prefix.reg_add(key, value, kind, data, "32")
    # The installer reads the 32-bit view; a different value in the 64-bit view is not seen.
    prefix.reg_add("HKLM\\" + STANDARD.config_key + "\\1", "ServerIP", "REG_SZ", "6.6.6.6", "64")
    source = RegistrySource(sections)
    ports = read_ports(source, STANDARD)
    check(len(ports) == 2, "registry test data")
    assigned = assignments(source, len(ports), STANDARD)
    for printer in ("Registry Printer A", "Registry Printer B"):
        prefix.probe("add-printer", printer)
    pieces = install_transcript(Expect(ports=ports, assigned=assigned, args=["-r"],
                                       from_registry=True, missing_printers={"Absent Printer"}))
    result = prefix.install("-r")
    check_run(result, pieces, 0, "install -r")
    check_spooler_calls(result, install_spooler_calls(STANDARD, True, ports), "install -r")
    check_log(prefix, log_bytes(pieces), "install -r")
    check_ports(prefix, STANDARD, ports)
    check_printers(prefix, {"Registry Printer A": "Tolvo001", "Registry Printer B": "Tolvo001"})
    return prefix


@test
def dotnet_missing(h):
    # Only the 64-bit view has the key; the 32-bit installer must not see it.
    prefix = h.prefix("dotnet-missing", dotnet=False)
    prefix.add_dotnet(view="64")
    pieces = banner(STANDARD) + [("ERROR: The .NET Framework 2.0 is not installed\n", False)]
    result = prefix.install()
    check_run(result, pieces, 255, "install without .NET")
    check_spooler_calls(result, [], "install without .NET")
    check_log(prefix, log_bytes(pieces), "install without .NET")
    check_monitor(prefix, STANDARD, True, present=False)
    check(ci_child(prefix.system32, STANDARD.monitor64) is None, "files copied without .NET")
    return prefix


@test
def site_script_after_install_with_arguments(h):
    prefix = h.prefix("site-script")
    marker = "C:\\" + SCRIPT_MARKER
    (prefix.path / "drive_c" / "Kit" / "install_printer.bat").write_bytes(
        b"@echo off\r\ncd> " + marker.encode() + b"\r\n"
        b"echo appended by the script>> C:\\windows\\TLPortInstall.log\r\n")
    ports, assigned, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n",
                                              True, args=["-s"])
    check_equal(prefix.host(marker).read_bytes() if prefix.host(marker).exists() else None,
                b"C:\\Kit\r\n", "the script's marker (its current directory)")
    # The log was closed before the script ran and nothing followed it.
    check_log(prefix, log_bytes(pieces) + b"appended by the script\r\n", "install -s")
    check_ports(prefix, STANDARD, ports)
    return prefix


@test
def uninstall_without_files(h):
    prefix = h.prefix("uninstall-c")
    line = "    (64-bit Windows 7 Detected)\n"
    ports, assigned, _ = typical_install(h, prefix, line, True)
    printers = prefix.printers()
    pieces = uninstall_transcript(
        STANDARD, line, disconnect_block(printers, [c["PortName"] for c in ports], STANDARD),
        copy_files=False, put_back=assigned_put_back(assigned))
    check_run(prefix.install("-u", "-c"), pieces, 0, "uninstall -c")
    check_monitor(prefix, STANDARD, True, present=False)
    check_client(prefix, present=False)
    check_system_files(prefix, STANDARD, True, present=True)
    check_fonts(prefix, STANDARD, present=True)
    return prefix


USAGE = ("\n\nFor installation use 'Install.exe (server)'\n"
         "For uninstallation use 'Install.exe -u'\n"
         "For verification of installation use switch '-v' (changes nothing)\n"
         "For un/installation of Enterprise version use switch '-a'\n"
         "For read configuration from registry use switch '-r'\n"
         "For do not copy files use switch '-c'\nFor silent installation use switch '-s'\n"
         "For specification of install log use switch '-lLogFileName'\n"
         "For specification of INI file use switch '-iINIFileName'\n"
         "For Install and Ignore Errors use 'Install.exe -e' (NOT RECOMMENDED!)\n")


@test
def usage_text(h):
    # No .NET either: the usage text comes before the prerequisite check.
    prefix = h.prefix("usage", wide=False, dotnet=False)
    pieces = banner(STANDARD) + [(USAGE, False)]
    result = prefix.install("-u", "/?")
    check_run(result, pieces, 255, "usage")
    check_spooler_calls(result, [], "usage")
    check_log(prefix, log_bytes(pieces), "usage")
    check_monitor(prefix, STANDARD, False, present=False)
    return prefix


@test
def ini_and_log_overrides(h):
    prefix = h.prefix("ini-log-overrides", wide=False)
    kit = prefix.path / "drive_c" / "Kit"
    # Profile-file rules: quotes stripped, hexadecimal, negative and trailing junk.
    (kit / "site.ini").write_bytes(
        b"[1]\r\nServerIP = 10.20.30.40\r\nServerPort=0x10\r\n"
        b"Description=\"Site port, quoted\"\r\nAuthType=-7\r\nEncryption=12abc\r\n"
        b"ServerIP10=10.0.0.10\r\nIPLoadBalancing10=9\r\nAssignPrinter5=Site Printer\r\n"
        b"[2]\r\nServerIP2=10.2.2.2\r\nAssignPrinter=Never Assigned\r\n")
    source = IniSource(kit / "site.ini")
    ports = read_ports(source, STANDARD)
    check(len(ports) == 1 and ports[0]["AuthType"] == 0xFFFFFFF9, "site.ini test data")
    assigned = assignments(source, len(ports), STANDARD)
    prefix.probe("add-printer", "Site Printer")
    args = ["-f", "-isite.ini", "-lC:\\Kit\\site.log"]
    pieces = install_transcript(Expect(version_line="    (32-bit Windows 7 Detected)\n",
                                       wide=False, ports=ports, assigned=assigned, args=args,
                                       obsolete_switch=True))
    check_run(prefix.install(*args), pieces, 0, "install with -i and -l")
    check_equal(prefix.host("C:\\Kit\\site.log").read_bytes()
                if prefix.host("C:\\Kit\\site.log").exists() else None,
                log_bytes(pieces), "run log named by -l")
    check(not prefix.host("C:\\windows\\TLPortInstall.log").exists(),
          "the default run log was written despite -l")
    check_ports(prefix, STANDARD, ports)
    check_printers(prefix, {"Site Printer": "Tolvo001"})

    # A missing file named by -i is reported under the configuration file's own name.
    pieces = banner(STANDARD) + [("\nInstalling Tolvo Port Monitor...\n", False)]
    pieces += version_block("    (32-bit Windows 7 Detected)\n")
    pieces += [("  - Checking Files\n", False), ("ERROR While Checking 'Tolvo.ini'.\n", False),
               ("\nTolvo Port Monitor Not Installed!\n", False)]
    check_run(prefix.install("-imissing.ini"), pieces, 255, "install with a missing -i file")
    check_log(prefix, log_bytes(pieces), "install with a missing -i file")
    return prefix


# A run log that cannot be opened: -1, nothing on the console, one line on the error stream.
# R: leads to /sys/kernel, where not even root creates a file; C:\\Logs\\linked is a symlink.
RUN_LOG_REFUSALS = [
    ("a drive that is not there", "Q:\\no\\such\\folder\\log.txt", rb".+ \(error 3\)"),
    ("a folder that is not there", "C:\\no such folder\\log.txt", rb".+ \(error 3\)"),
    ("a folder the run cannot write", "R:\\log.txt", rb".+ \(error 5\)"),
    ("a link in a parent folder", "C:\\Logs\\linked\\log.txt", rb"it leads to another file"),
    # C:\Logs\ae is a link to C:\Logs\æ, a name only a linguistic comparison takes for it.
    ("a link to a name alike", "C:\\Logs\\ae\\log.txt", rb"it leads to another file"),
    ("a stream of a file", "C:\\Logs\\log.txt:x", rb".+ \(error 123\)"),
]


@test
def run_log_that_cannot_be_opened(h):
    prefix = h.prefix("run-log-refused", wide=False)
    os.symlink("/sys/kernel", prefix.path / "dosdevices" / "r:")
    prefix.host("C:\\Elsewhere").mkdir()
    prefix.host("C:\\Logs").mkdir()
    os.symlink("../Elsewhere", prefix.host("C:\\Logs\\linked"))
    prefix.host("C:\\Logs\\\u00e6").mkdir()
    os.symlink("\u00e6", prefix.host("C:\\Logs\\ae"))
    prefix.kill()  # a running wineserver would not see the new drive
    for what, path, reason in RUN_LOG_REFUSALS:
        result = prefix.install("-l" + path)
        line = rb'Cannot open the run log "' + re.escape(path.encode()) + rb'": ' + reason + rb"\r\n"
        check(result.rc == 255 and result.out == b"" and re.fullmatch(line, result.err),
              "%s: exit %d, console %r, errors %r" % (what, result.rc, result.out, result.err))
    for target in ("C:\\Elsewhere", "C:\\Logs\\\u00e6"):
        check(not any(prefix.host(target).iterdir()), "a file was left where a link led")
    check(not prefix.host("C:\\windows\\TLPortInstall.log").exists(), "the default log was written")
    return prefix


@test
def install_without_files(h):
    prefix = h.prefix("install-c")
    ports, assigned = standard_facts(h, prefix)
    pieces = install_transcript(Expect(ports=ports, assigned=assigned, args=["-c"],
                                       copy_files=False))
    result = prefix.install("-c")
    check_run(result, pieces, 0, "install -c")
    check_spooler_calls(result, install_spooler_calls(STANDARD, True, ports), "install -c")
    check_log(prefix, log_bytes(pieces), "install -c")
    for name in STANDARD.system_files(True):
        check(ci_child(prefix.system32, name) is None, "%s copied despite -c" % name)
    check(ci_child(prefix.system32, "TolvoEvent.dll") is not None,
          "TolvoEvent.dll not copied with -c")
    check_event_source(prefix)
    check_ports(prefix, STANDARD, ports)
    check_client(prefix)
    check_fonts(prefix, STANDARD, present=False)
    return prefix


@test
def run_files_named_like_the_site_script(h):
    """A run log or trace named like the site script is refused: the lines the run writes, a
    configured printer's name among them, never run."""
    prefix = h.prefix("run-file-names")
    ini = prefix.host("C:\\Kit\\Tolvo.ini")
    ini.write_bytes(ini.read_bytes().rstrip() + b"\r\nAssignPrinter2=&echo pwned>C:\\pwned.txt&\r\n")
    for switch in ("-linstall_printer.bat", "-tC:\\Kit\\install_printer.bat"):
        result = prefix.install(switch, "-s")
        check(b"it is named like a program the run starts" in result.err,
              "%s: exit %d, errors %r" % (switch, result.rc, result.err))
        check(not prefix.host("C:\\Kit\\install_printer.bat").exists() and
              not prefix.host("C:\\pwned.txt").exists(), "%s: the run's file ran" % switch)
    return prefix


@test
def kit_open_to_others_is_refused(h):
    """A kit file, the kit folder, and the configuration file, that others may write, before the
    first change ("-e" or not; "-v" cannot be made). Wine shows the mode bits as an Everyone
    grant; owners and other accounts are shown in the simulated Windows."""
    prefix = h.prefix("kit-open")
    kit = prefix.host("C:\\Kit")
    for path, shown in ((kit / "TolvoEvent.dll", "C:\\Kit\\TolvoEvent.dll"), (kit, "C:\\Kit"),
                        (kit / "Tolvo.ini", "C:\\Kit\\Tolvo.ini")):
        mode = path.stat().st_mode
        path.chmod(mode | 0o002)
        for args, rc in ((["-e"], 255), (["-v"], 2)):
            result = prefix.install(*args)
            line = ("ERROR: Everyone can change '%s'" % shown).encode()
            check(result.rc == rc and line in result.out,
                  "%s with %s: exit %d\n%s" % (shown, args, result.rc, result.out.decode("cp1252")))
        path.chmod(mode)
    check(ci_child(prefix.system32, "TolvoEvent.dll") is None, "a kit open to others was installed")
    return prefix


@test
def piped_install_ends_while_the_client_runs(h):
    """"Install.exe | cat" ends with the run: the client it starts, which stays up until
    Quarvel.exe ends it, holds none of the run's handles."""
    prefix = h.prefix("piped")
    try:
        done = subprocess.run(["sh", "-c", 'wine "C:\\\\Kit\\\\Install.exe" | cat'],
                              env=dict(prefix.env, WINEDEBUG="-all"), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=prefix.path.parent,
                              timeout=120)
    except subprocess.TimeoutExpired:
        raise CheckFailed("the pipe did not end while the client ran")
    check(b"Port Monitor Installed Sucessfully" in done.stdout, "transcript: %r" % done.stdout)
    check(client_count(prefix) == 1, "the client did not stay up")
    return prefix


@test
def ini_byte_order_marks(h):
    """Wine's profile reader skips the UTF-8 mark, Windows' does not: only the installer's own
    refusal shows here. A UTF-16 file with its mark installs."""
    prefix = h.prefix("ini-marks")
    ini = prefix.host("C:\\Kit\\Tolvo.ini")
    text = ini.read_bytes()
    ini.write_bytes(b"\xef\xbb\xbf" + text)
    result = prefix.install()
    refusal = (b"ERROR: 'C:\\Kit\\Tolvo.ini' begins with a UTF-8 byte-order mark, which Windows "
               b"does not read: save it without the mark, or as UTF-16\r\n")
    check(result.rc == 255 and refusal in result.out, "UTF-8 mark: exit %d\n%s" % (
        result.rc, result.out.decode("cp1252")))
    check_spooler_calls(result, [], "install with the UTF-8 mark")
    check_monitor(prefix, STANDARD, True, present=False)
    ini.write_bytes(b"\xff\xfe" + text.decode("cp1252").encode("utf-16-le"))
    ports, _, _ = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    check_ports(prefix, STANDARD, ports)
    return prefix
