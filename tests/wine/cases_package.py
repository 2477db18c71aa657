"""End-to-end cases of the Windows Installer package (packaging/): msiexec runs
Install.exe from the package's folder, so its runs are checked as Install.exe's own are."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

from e2e_model import *  # noqa: F401,F403
from e2e_wine import *  # noqa: F401,F403


# --------------------------------------------------------------------------
# The Windows Installer package (packaging/): msiexec runs Install.exe from
# the package's folder, so its runs are checked as Install.exe's own are.

ARP_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
REMEMBERED_KEY = "SOFTWARE\\Kestrum Corporation\\Tolvo Port Monitor"
PACKAGE_DIR = "\\Kestrum\\Tolvo Port Monitor"
WIN7_64 = "    (64-bit Windows 7 Detected)\n"
WIN7_32 = "    (32-bit Windows 7 Detected)\n"
# A failed custom action: 1603 on Windows, 1627 under Wine; wine passes
# exit codes on modulo 256.
MSI_FAILED = (1603 % 256, 1627 % 256)


def package(h, version=None, kit=KIT, *properties):
    """E2E_MSI (CI's signed package), or a package of a kit built here."""
    if version is None and os.environ.get("E2E_MSI"):
        return Path(os.environ["E2E_MSI"])
    path = h.workdir / ("-".join(("Tolvo", version or "2.6.0", kit.name) + properties) + ".msi")
    if not path.exists():
        subprocess.check_call([str(ROOT / "packaging" / "build-msi.sh"), "-o", str(path), "-v",
                               version or "2.6.0"] + ["-p%s" % p for p in properties] + [str(kit)],
                              stdout=subprocess.DEVNULL)
    return path


def msi_property(msi, name):
    table = subprocess.check_output(["msiinfo", "export", str(msi), "Property"], text=True)
    return dict(line.split("\t", 1) for line in table.splitlines() if "\t" in line)[name]


def msiexec(prefix, msi, *properties):
    shutil.copy2(msi, prefix.host("C:\\" + msi.name))
    return prefix.run(["msiexec", "/i", "C:\\" + msi.name, "/qn"] + list(properties))


def remove_package(prefix, msi):
    """Runs the removal command of the Programs and Features entry, quietly."""
    command = prefix.reg_value(ARP_KEY + msi_property(msi, "ProductCode"), "UninstallString", "32")
    check(command is not None, "no UninstallString in the Programs and Features entry")
    return prefix.run(command.split(":", 1)[1].split() + ["/qn"])


def check_package(prefix, msi, present=True):
    """The Programs and Features entry (32-bit view) and the package's folder."""
    key = ARP_KEY + msi_property(msi, "ProductCode")
    folder = prefix.host(prefix.program_files + PACKAGE_DIR)
    if not present:
        check(not prefix.reg_key_exists(key, "32"), "Programs and Features entry left behind")
        check(not folder.exists(), "the package's folder %s left behind" % folder)
        return
    for value, data in (("DisplayName", "Tolvo Port Monitor"), ("Publisher", "Kestrum Corporation"),
                        ("DisplayVersion", msi_property(msi, "ProductVersion"))):
        check_equal(prefix.reg_value(key, value, "32"), "REG_SZ:" + data, "entry's " + value)
    listing = lambda root: sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_file())
    check_equal(listing(folder), sorted(listing(KIT) + ["InstCopy.exe"]),
                "files in the package's folder")


def check_installed(prefix, edition, ports, assigned):
    check_monitor(prefix, edition, prefix.wide)
    check_system_files(prefix, edition, prefix.wide)
    check_ports(prefix, edition, ports)
    check_event_source(prefix)
    check_printers(prefix, final_ports(assigned))
    if not edition.enterprise:
        check_client(prefix)
    check_fonts(prefix, edition)


def check_removed(prefix, edition, ports, msi):
    check_monitor(prefix, edition, prefix.wide, present=False)
    check_ports(prefix, edition, ports, present=False)
    check_system_files(prefix, edition, prefix.wide, present=False)
    check_client(prefix, present=False)
    check_fonts(prefix, edition, present=False)
    check_package(prefix, msi, present=False)
    check(not prefix.host(prefix.program_files + "\\Kestrum").exists(), "Kestrum folder left")


def msi_removal(prefix, msi, edition, ports, assigned, log=b""):
    pieces = uninstall_transcript(edition, WIN7_64, disconnect_block(
        prefix.printers(), [c["PortName"] for c in ports], edition),
        put_back=assigned_put_back(assigned))
    check_equal(remove_package(prefix, msi).rc, 0, "removal's exit code")
    check_log(prefix, log + log_bytes(pieces), "removal")
    check_removed(prefix, edition, ports, msi)


@test
def msi_install_and_remove(h):
    prefix, msi = h.prefix("msi-install"), package(h)
    site = "C:\\Site Files\\"  # a blank in the paths handed on to Install.exe
    prefix.host(site).mkdir()
    shutil.copy2(KIT / "Tolvo.ini", prefix.host(site + "site.ini"))
    ports, assigned = standard_facts(h, prefix)
    pieces = install_transcript(Expect(ports=ports, assigned=assigned,
                                       args=["-i%ssite.ini" % site, "-l%srun.log" % site]))
    result = msiexec(prefix, msi, "INIFILE=%ssite.ini" % site, "LOGFILE=%srun.log" % site)
    check_equal(result.rc, 0, "msiexec's exit code")
    check_equal(prefix.host(site + "run.log").read_bytes(), log_bytes(pieces), "run log")
    check_installed(prefix, STANDARD, ports, assigned)
    check_package(prefix, msi)
    msi_removal(prefix, msi, STANDARD, ports, assigned)
    return prefix


@test
def msi_enterprise_remembered_for_removal(h):
    prefix, msi = h.prefix("msi-enterprise"), package(h)
    ports, assigned = standard_facts(h, prefix, ENTERPRISE)
    check_equal(msiexec(prefix, msi, "ENTERPRISE=1").rc, 0, "msiexec's exit code")
    pieces = install_transcript(Expect(edition=ENTERPRISE, ports=ports, assigned=assigned,
                                       args=["-a"]))
    check_log(prefix, log_bytes(pieces), "install")
    check_installed(prefix, ENTERPRISE, ports, assigned)
    check_monitor(prefix, STANDARD, True, present=False)
    msi_removal(prefix, msi, ENTERPRISE, ports, assigned, log_bytes(pieces))
    return prefix


@test
def msi_refused_install_rolls_back(h):
    prefix, msi = h.prefix("msi-refused", dotnet=False), package(h)
    rc = msiexec(prefix, msi).rc
    check(rc in MSI_FAILED, "msiexec's exit code %d, expected %r" % (rc, MSI_FAILED))
    pieces = banner(STANDARD) + [("ERROR: The .NET Framework 2.0 is not installed\n", False)]
    check_log(prefix, log_bytes(pieces), "refused install")
    check_package(prefix, msi, present=False)
    check_monitor(prefix, STANDARD, True, present=False)
    return prefix


@test
def msi_major_upgrade(h):
    prefix, old = h.prefix("msi-upgrade"), package(h)
    major, minor, build = msi_property(old, "ProductVersion").split(".")
    new = package(h, "%s.%s.%d" % (major, minor, int(build) + 1))
    ports, assigned = standard_facts(h, prefix)
    check_equal(msiexec(prefix, old).rc, 0, "first msiexec's exit code")
    log = log_bytes(install_transcript(Expect(ports=ports, assigned=assigned)))
    printers = prefix.printers()
    check_equal(msiexec(prefix, new).rc, 0, "upgrade's exit code")
    # The old package's removal step must not run: only a second installation follows.
    log += log_bytes(install_transcript(Expect(
        ports=ports, assigned=assigned, monitor_present=True,
        disconnect=disconnect_block(printers, [c["PortName"] for c in ports], STANDARD))))
    check_log(prefix, log, "upgrade")
    check_installed(prefix, STANDARD, ports, assigned)
    check_package(prefix, new)
    check(not prefix.reg_key_exists(ARP_KEY + msi_property(old, "ProductCode"), "32"),
          "the old package's entry is still there")
    return prefix


# The package on its unhappy paths, each case in a 32-bit prefix: steps (the package, msiexec's
# arguments and exit code, or a step of the test's own), then what the machine is left with.
# Where Wine's msiexec departs from Windows:
# - A failed run's rollback deletes the package's files (also those it only overwrote) and
#   the remembered registry values before it runs the rollback actions, so each finds no
#   Install.exe and counts as done. Windows undoes the script step by step in reverse order:
#   RollbackInstall (after InstallFiles) runs "-u" while the new files are still there,
#   RollbackUpgrade (before InstallFiles) the previous Install.exe, its files restored by then.
#   The failed upgrade shows that order from the package's tables.
# - A launch condition's message is missing from Wine's log (the exit code is 1603 as on
#   Windows), as is a refusal's (an error action's: the log names the action, the package's
#   table holds the message), and its msiexec drops every double quote from a property on
#   its command line: the value with one goes into the Property table, as a transform would.
REFUSED = 1603 % 256
QUOTED = 'C:\\Site\\a.ini" "-u'  # once made the installation run "Install.exe -u"


def newer_program(h):
    """The kit with an Install.exe of a higher version resource (2.6.0.0 becomes 2.6.2.0)."""
    kit = h.workdir / "newer"
    if not kit.exists():
        shutil.copytree(KIT, kit)
        data = bytearray((kit / "Install.exe").read_bytes())
        fixed = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
        for offset in (12, 20):  # the file's and the product's version, their low half
            data[fixed + offset + 2] += 2
        (kit / "Install.exe").write_bytes(bytes(data))
    return kit


def altered_package(h, name, *statements):
    """The package with its tables changed as a transform would change them."""
    path = h.workdir / ("Tolvo-%s.msi" % name)
    if not path.exists():
        shutil.copy2(package(h), path)
        for statement in statements:
            subprocess.check_call(["msibuild", str(path), "-q", statement])
    return path


def case_package(h, variant):
    if variant == "rebuilt":  # the same product folder and version, another build
        path = h.workdir / "Tolvo-rebuilt.msi"
        if not path.exists():
            subprocess.check_call([str(ROOT / "packaging" / "build-msi.sh"), "-o", str(path),
                                   str(KIT)], stdout=subprocess.DEVNULL)
        return path
    if variant == "same program":  # a higher version of the package, not of Install.exe
        return package(h, "2.6.1")
    if variant == "newer program":
        return package(h, "2.6.2", newer_program(h))
    if variant == "other edition":
        return package(h, "2.6.1", KIT, "ENTERPRISE=1")
    if variant == "broken monitor":  # a 64-bit DLL under the 32-bit name: it does not load
        kit = h.workdir / "broken"
        if not kit.exists():
            shutil.copytree(KIT, kit)
            shutil.copy2(KIT / STANDARD.monitor64, kit / STANDARD.monitor32)
        return package(h, "2.6.1", kit)
    if variant == "quoted":
        check(subprocess.call([str(ROOT / "packaging" / "build-msi.sh"), "-o",
                               str(h.workdir / "refused.msi"), "-p", "INIFILE=" + QUOTED],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 1,
              "build-msi.sh took " + QUOTED)
        return altered_package(h, "quoted", "INSERT INTO `Property` (`Property`, `Value`) "
                               "VALUES ('INIFILE', '%s')" % QUOTED)
    if variant == "other folder":
        return altered_package(h, "folder", "INSERT INTO `Property` (`Property`, `Value`) VALUES "
                               "('ProductFolder', '%s')" % OTHER_FOLDER)
    if variant == "hanging":  # Install.exe's place taken by the client stand-in, which stays
        return altered_package(h, "hanging", "UPDATE `Property` SET `Value` = '2' WHERE "
                               "`Property` = 'RunTimeLimit'", "UPDATE `CustomAction` SET `Target` "
                               "= '[RunTimeLimit]||\"[ProductFolder]Tolvo Client.exe\"' WHERE "
                               "`Action` = 'SetRunInstall'")
    if variant == "server named":  # the check's verdict given beforehand, as a transform could
        return altered_package(h, "server-named", "INSERT INTO `Property` (`Property`, `Value`) "
                               "VALUES ('ServerNamed', '1')")
    if variant == "no time limit":  # 0 once meant a limit of one second, found mid-run
        return altered_package(h, "no-limit", "UPDATE `Property` SET `Value` = '0' WHERE "
                               "`Property` = 'RunTimeLimit'")
    if variant == "no install run":  # an upgrade that fails in RunVerify, RunInstall not run
        return altered_package(h, "no-run", "UPDATE `InstallExecuteSequence` SET `Condition` = "
                               "'Installed AND NOT Installed' WHERE `Action` = 'RunInstall'",
                               "UPDATE `Property` SET `Value` = '{6D3B1C52-0F4E-4A7B-9E21-"
                               "5C8A7F3D2B10}' WHERE `Property` = 'ProductCode'")
    return package(h)


@test
def msi_build_refuses_a_password(h):
    """A product folder whose Tolvo.ini, or another file that INIFILE may name, sets AuthText is
    not packed unless told to; told to, the package locks that file as it locks every .ini."""
    kit = h.workdir / "password-kit"
    shutil.copytree(KIT, kit)
    (kit / "Tolvo.ini").write_bytes(b"[1]\r\nServerIP=10.1.1.1\r\nAuthText=s3cret\r\n")
    (kit / "site.cfg").write_bytes(b"[1]\r\nAuthText=s3cret\r\n")
    build = [str(ROOT / "packaging" / "build-msi.sh"), "-o", str(h.workdir / "pw.msi"), str(kit)]
    refused = subprocess.run(build, capture_output=True)
    check(refused.returncode == 1 and b"Tolvo.ini, site.cfg in " in refused.stderr,
          repr(refused.stderr))
    subprocess.check_call(build + ["--allow-password-in-package"], stdout=subprocess.DEVNULL)
    export = lambda name: subprocess.check_output(["msiinfo", "export", build[2], name], text=True)
    cfg = re.search(r"^(\S+)\t\S+\t(\S+\|)?site\.cfg\t", export("File"), re.M)
    check(cfg and "\n%s\t" % cfg.group(1) in export("LockPermissions"), "site.cfg not locked")


OTHER_FOLDER = "C:\\Tolvo\\"


def check_folder_kept(h, prefix):
    """The upgrade went where the first installation went, and nowhere else."""
    check((prefix.host(OTHER_FOLDER) / "Install.exe").read_bytes() ==
          (newer_program(h) / "Install.exe").read_bytes(), "the upgrade left " + OTHER_FOLDER)
    check(not prefix.host(prefix.program_files + PACKAGE_DIR).exists(), "installed twice")


def check_timed_out(h, prefix):
    check("Tolvo Client.exe has not ended within the time limit, and is ended; seconds: 2" in
          msi_log(prefix), "no time-out in msiexec's log:\n" + msi_log(prefix)[-3000:])


def cancel_hanging_install(h, prefix):
    """Cancel pressed while the program runs: the action waits for its end (here the time
    limit's), then the installation ends as cancelled (1602)."""
    msi = case_package(h, "hanging")
    shutil.copy2(msi, prefix.host("C:\\" + msi.name))
    prefix.probe("install-cancelled", "C:\\" + msi.name, "RunInstall", MSI_LOG)
    check("cancel: the installation is cancelled once the program has ended" in msi_log(prefix),
          "no cancel in the log:\n" + msi_log(prefix)[-3000:])


def previous_rerun(expected):
    """A step: whether RollbackUpgrade ran the previous Install.exe (only after RunInstall)."""
    def check_rollback_upgrade(h, prefix):
        skipped = "Install.exe not started: the new installation did not start in this transaction"
        check((skipped not in msi_log(prefix)) == expected,
              "RollbackUpgrade, expected to run: %s\n%s" % (expected, msi_log(prefix)[-3000:]))
    return check_rollback_upgrade


def long_enterprise_server_not_built(h, prefix):
    """241 characters, the most SERVER has, are one too many with ENTERPRISE=1."""
    build = [str(ROOT / "packaging" / "build-msi.sh"), "-o", str(h.workdir / "refused.msi")]
    check(subprocess.call(build + ["-p", "ENTERPRISE=1", "-p", "SERVER=\\\\" + "s" * 239],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 1,
          "build-msi.sh took a SERVER of 241 characters with ENTERPRISE=1")


def unwritable_token_key(h, prefix):
    """RunInstall's key a link to one that cannot be made: a key that cannot be written."""
    key = (REMEMBERED_KEY + " Transaction").replace("\\", "\\\\")
    link = "\\Registry\\Nowhere\\Key".encode("utf-16-le").hex(",")
    subprocess.call(["wineserver", "-w"], env=prefix.env)
    with open(prefix.path / "system.reg", "a") as registry:
        registry.write('\n[%s] 0\n#link\n"SymbolicLinkValue"=hex(6):%s\n' % (key, link))


def delete_install_exe(h, prefix):
    prefix.host(prefix.program_files + PACKAGE_DIR + "\\Install.exe").unlink()


def check_trace(h, prefix):
    trace = prefix.host("C:\\tolvo-trace.txt")
    check(trace.is_file() and b"DeleteMonitorA(" in trace.read_bytes(),
          "no trace of the package's run")


SITE_INI = "C:\\Site\\Tolvo.ini"


def assign_missing_printer(h, prefix):
    """The kit's configuration with one more printer, which the machine does not have."""
    site = prefix.host(SITE_INI)
    site.parent.mkdir(parents=True, exist_ok=True)
    site.write_bytes((KIT / "Tolvo.ini").read_bytes() + b"\r\nAssignPrinter2=Tolvo Missing Printer\r\n")


def delete_remembered_key(h, prefix):
    check_equal(prefix.run(["reg", "delete", "HKLM\\" + REMEMBERED_KEY, "/f"]).rc, 0,
                "reg delete's exit code")


def check_nocopy_remembered(h, prefix):
    check_equal(prefix.reg_value(REMEMBERED_KEY, "NoCopy"), "REG_SZ:1", "remembered NoCopy")


def entry_left(*variants):
    """A step: of these packages, only the last one has a Programs and Features entry."""
    def check_entries(h, prefix):
        packages = [case_package(h, variant) for variant in variants]
        entries = [msi for msi in packages
                   if prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32")]
        check_equal(entries, packages[-1:], "packages in Programs and Features")
    return check_entries


def check_enterprise_alone(h, prefix):
    check_monitor(prefix, ENTERPRISE, False)
    check_monitor(prefix, STANDARD, False, present=False)


def check_file_versions(h, prefix):
    """The File table's versions are those that Windows reads from the installed files."""
    table = [line.split("\t") for line in subprocess.check_output(
        ["msiinfo", "export", str(package(h)), "File"], text=True).splitlines()[3:]]
    versions = {}
    for row in table:
        version = "%s\t%s" % (row[4], row[5]) if row[4] else "-"
        versions.setdefault(row[2].lower(), set()).add(version)
    folder = prefix.host(prefix.program_files + PACKAGE_DIR)
    files = sorted(p for p in folder.rglob("*") if p.is_file())
    _, text = prefix.probe("file-version", *[str(f) for f in files])
    for path, found in zip(files, text.splitlines()):
        check_equal(versions.get(path.name.lower()), {found}, "File table's version of " +
                    path.name)


def hold_install_exe(h, prefix):
    """Install.exe open as a running check would hold it."""
    path = prefix.program_files + PACKAGE_DIR + "\\Install.exe"
    prefix.holder, out, _ = prefix.start([str(PROBE), "hold-file", path])
    while b"held" not in out.read_bytes() and prefix.holder.poll() is None:
        time.sleep(0.05)


def release_install_exe(h, prefix):
    prefix.holder.kill()
    prefix.holder.wait()


def check_own_install_exe(h, prefix):
    folder = prefix.host(prefix.program_files + PACKAGE_DIR)
    for name in ("Install.exe", "InstCopy.exe"):
        check((folder / name).read_bytes() == (newer_program(h) / "Install.exe").read_bytes(),
              "the upgrade left the older %s in the package's folder" % name)


MSI_LOG = "C:\\msiexec.log"


def msi_log(prefix):
    return prefix.host(MSI_LOG).read_bytes().decode("cp1252", "replace")


MISSING_LOG = "C:\\Missing[ProductCode]\\log.txt"  # logged as written, not formatted


def check_cause_logged(h, prefix):
    """Install.exe's error line, naming the run log and why, and its exit code are in Windows
    Installer's log."""
    log = msi_log(prefix)
    cause = 'Install.exe error: Cannot open the run log "%s": ' % MISSING_LOG
    check(cause in log and "(error 3)" in log and "Install.exe exit code: -1" in log,
          "no error line of Install.exe in msiexec's log:\n" + log[-3000:])


def install_without_package(h, prefix):
    check_equal(prefix.install().rc, 0, "Install.exe's exit code")


def install_enterprise_without_package(h, prefix):
    check_equal(prefix.install("-a").rc, 0, "Install.exe -a's exit code")


def check_unknown_edition_refused(h, prefix):
    """The refusal, which names the way out, ran; the package is gone and both monitors stay."""
    message = [line.split("\t")[3] for line in subprocess.check_output(
        ["msiinfo", "export", str(package(h)), "CustomAction"], text=True).splitlines()
        if line.startswith("RefuseUnknownEdition\t")]
    check(message and "SKIPUNINSTALL=1" in message[0] and
          re.search(r"^Action start [0-9:]+: RefuseUnknownEdition\.", msi_log(prefix), re.M),
          "no refusal naming SKIPUNINSTALL=1 in msiexec's log")
    check(not prefix.reg_key_exists(ARP_KEY + msi_property(package(h), "ProductCode"), "32"),
          "the package's entry is still there")
    check_monitor(prefix, STANDARD, False)
    check_monitor(prefix, ENTERPRISE, False)


def check_takeover_rollback(h, prefix):
    """The rollback re-installs what it found (Wine: its Install.exe is deleted by then, so
    the log shows the command line that cannot start); it never runs -u."""
    lines = [line for line in msi_log(prefix).splitlines() if "Install.exe command line: " in line]
    check(len(lines) == 3 and lines[2] == lines[0] and " -u" not in lines[2],
          "the rollback's command line:\n" + "\n".join(lines))
    check_monitor(prefix, STANDARD, False)


def check_rollback_order(h, prefix):
    table = lambda name: [line.split("\t") for line in subprocess.check_output(
        ["msiinfo", "export", str(package(h)), name], text=True).splitlines()[3:]]
    at = {row[0]: int(row[2]) for row in table("InstallExecuteSequence")}
    order = [at.get(action, 0) for action in ("RollbackRemoval", "RunUninstall", "RemoveFiles",
             "RollbackUpgrade", "InstallFiles", "RollbackInstall", "RollbackTakeover", "RunInstall",
             "InstallFinalize")]
    rollback = [int(row[1]) & 0x500 for row in table("CustomAction") if row[0].startswith("Rollback")]
    check(0 not in order and order == sorted(order) and rollback == [0x500] * 4,
          "rollback actions missing, out of order or not run as rollback")


PACKAGE_CASES = [
    ("msi_feature_removal", [("", [], 0), ("", ["REMOVE=Complete"], 0)], "removed"),
    ("msi_removal_without_install_exe", [("", [], 0), delete_install_exe, (
        "", ["REMOVE=ALL", "TRACEFILE=C:\\tolvo-trace.txt"], 0), check_trace], "removed"),
    ("msi_removal_skipping_uninstall", [("", [], 0), ("", ["REMOVE=ALL", "SKIPUNINSTALL=1"], 0)],
     "kept"),
    ("msi_other_edition_refused", [("", [], 0), ("", ["ENTERPRISE=1"], REFUSED),
                                   ("other edition", [], REFUSED), ("", ["REMOVE=ALL"], 0)],
     "removed"),
    ("msi_unsafe_values_refused", [("", ["ALLUSERS=", "MSIINSTALLPERUSER=1"], REFUSED),
                                   ("", ["SERVER=-u"], REFUSED),
                                   ("", ["INIFILE=C:\\Site\\"], REFUSED), ("quoted", [], REFUSED),
                                   ("", ["SERVER=\\\\a\\b"], REFUSED),
                                   ("server named", ["SERVER=\\\\a\\b"], REFUSED),
                                   long_enterprise_server_not_built],
     "nothing"),
    ("msi_failed_upgrade", [("", [], 0), ("broken monitor", ["/l*v", MSI_LOG], MSI_FAILED),
                            check_rollback_order, previous_rerun(True)],
     "previous"),
    ("msi_verify_fails_install", [assign_missing_printer, ("", ["VERIFY=1", "INIFILE=" + SITE_INI],
                                                           MSI_FAILED)], "not verified"),
    ("msi_same_version_rebuild", [("", [], 0), ("rebuilt", [], 0), entry_left("", "rebuilt"),
                                  ("rebuilt", ["REMOVE=ALL"], 0)], "gone"),
    ("msi_deleted_key", [("", ["ENTERPRISE=1"], 0), delete_remembered_key,
                         ("", ["REINSTALL=ALL", "REINSTALLMODE=omus"], 0), check_enterprise_alone,
                         delete_remembered_key, ("", ["REMOVE=ALL"], 0)], "gone"),
    ("msi_unknown_edition_refused", [("", [], 0), delete_remembered_key,
                                     install_enterprise_without_package,
                                     ("", ["REMOVE=ALL", "/l*v", MSI_LOG], REFUSED),
                                     ("", ["REMOVE=ALL", "SKIPUNINSTALL=1"], 0),
                                     check_unknown_edition_refused], None),
    ("msi_internal_property_ignored", [("", ["TolvoArgs=-x"], 0)], "installed"),
    ("msi_skipuninstall_only_as_1", [("", [], 0), ("", ["REMOVE=ALL", "SKIPUNINSTALL=0"], 0)],
     "removed"),
    ("msi_changed_setting", [("", [], 0), ("", ["NOCOPY=1"], REFUSED),
                             ("", ["REINSTALL=ALL", "REINSTALLMODE=omus", "NOCOPY=1"], 0),
                             check_nocopy_remembered], "installed"),
    ("msi_file_versions", [("", [], 0), check_file_versions], "installed"),
    # An upgrade replaces Install.exe by a newer one only: the same one in use needs no restart.
    ("msi_upgrade_runs_own_install_exe", [("", [], 0), hold_install_exe, ("same program", [], 0),
                                          release_install_exe, ("newer program", [], 0),
                                          check_own_install_exe], "installed"),
    ("msi_failure_cause_logged", [("", ["LOGFILE=" + MISSING_LOG, "/l*v", MSI_LOG], MSI_FAILED),
                                  check_cause_logged], "nothing"),
    ("msi_takeover_rolled_back", [install_without_package, assign_missing_printer,
                                  ("", ["VERIFY=1", "INIFILE=" + SITE_INI, "/l*v", MSI_LOG],
                                   MSI_FAILED), check_takeover_rollback], None),
    ("msi_downgrade_refused", [("same program", [], 0), ("", [], REFUSED)], "installed"),
    # Wine drops the registration under the upgrade code that the first upgrade made, so the
    # second one leaves the middle version's entry (Windows removes it): not checked.
    ("msi_two_step_upgrade", [("", [], 0), ("same program", [], 0), ("newer program", [], 0),
                              check_own_install_exe, entry_left("", "newer program")],
     "installed"),
    # A first installation into another folder (a transform's): its upgrade goes there too.
    ("msi_folder_remembered", [("other folder", [], 0), ("newer program", [], 0),
                               check_folder_kept], "installed"),
    ("msi_upgrade_failed_before_run", [("", [], 0), assign_missing_printer, (
        "no install run", ["VERIFY=1", "INIFILE=" + SITE_INI, "/l*v", MSI_LOG], MSI_FAILED),
                                       previous_rerun(False)], None),
    # With the full user interface (the UI sequence runs first). Wine runs both sequences in one
    # process, so it cannot show what Windows loses on the way to the execute sequence (private
    # properties set in the UI sequence): the table check keeps AppSearch out of that sequence.
    ("msi_interactive_upgrade", [("", [], 0), ("same program", ["/qf"], 0)], "installed"),
    # RunInstall that cannot remember its start runs nothing: its failure would undo nothing.
    ("msi_start_not_remembered", [unwritable_token_key, ("", [], MSI_FAILED)],
     "nothing"),
    ("msi_time_limit_refused", [("no time limit", [], REFUSED)], "nothing"),
    ("msi_hanging_program_ended", [("hanging", ["/l*v", MSI_LOG], MSI_FAILED), check_timed_out],
     "nothing"),
    # Wine ends a cancelled installation (1602) without rolling it back; Windows rolls it back.
    ("msi_cancel_waits_for_program", [cancel_hanging_install], None),
]


# One package per rule of the table check, each with the fault it must refuse.
TABLE_FAULTS = [
    ("UPDATE `Property` SET `Value` = 'a\rb' WHERE `Property` = 'Quote'", "control character"),
    ("UPDATE `InstallExecuteSequence` SET `Condition` = '%s' WHERE `Action` = 'RefuseServer'" %
     " OR ".join(["ServerNamed"] * 22), "its column 255"),
    ("UPDATE `Component` SET `ComponentId` = '{0c3b7e52-9a64-4f8e-b1d2-7e5a9c4f3b61}' WHERE "
     "`Component` = 'KestrumFolder'", "is not a GUID"),
    ("UPDATE `Property` SET `Value` = 'WIX_UPGRADE_DETECTED;INIFILE' WHERE `Property` = "
     "'SecureCustomProperties'", "secure property 'INIFILE'"),
    ("INSERT INTO `Property` (`Property`, `Value`) VALUES ('INSTALLDIR', 'D:\\X\\')",
     "property INSTALLDIR: public"),
    ("UPDATE `CustomAction` SET `Source` = 'TOLVOARGS' WHERE `Action` = 'ArgEnterprise'",
     "computed by the package, yet public"),
    ("INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)",
     "AppSearch in InstallUISequence"),
    ("UPDATE `InstallExecuteSequence` SET `Sequence` = 3000 WHERE `Action` = 'RollbackUpgrade'",
     "not in the order"),
    ("UPDATE `InstallExecuteSequence` SET `Sequence` = 1101 WHERE `Action` = 'ChangedNoCopy'",
     "both at 1101"),
    ("UPDATE `InstallExecuteSequence` SET `Sequence` = 1600 WHERE `Action` = 'SetRunVerify'",
     "not set before InstallInitialize"),
    ("UPDATE `CustomAction` SET `Type` = 1025 WHERE `Action` = 'RunInstall'", "type 1025"),
    ("DELETE FROM `Upgrade` WHERE `Attributes` = 769", "same version"),
    ("UPDATE `File` SET `Version` = '1.2.3.4.5' WHERE `File` = 'InstallExe'", "version '1.2.3.4.5'"),
    ("UPDATE `LockPermissions` SET `User` = 'Users'", "not locked to SYSTEM"),
]


@test
def msi_table_check_refuses(h):
    for number, (statement, fault) in enumerate(TABLE_FAULTS):
        result = subprocess.run([str(ROOT / "packaging" / "check-msi.py"), str(
            altered_package(h, "fault%d" % number, statement))], stdout=subprocess.PIPE, text=True)
        check(result.returncode == 1 and fault in result.stdout, "check-msi.py took a package "
              "with %s (%s):\n%s" % (fault, statement, result.stdout))


def package_case(name, steps, left):
    def run(h):
        prefix, msi = h.prefix(name.replace("_", "-"), wide=False), package(h)
        ports, assigned = standard_facts(h, prefix)
        log = log_bytes(install_transcript(Expect(version_line=WIN7_32, wide=False, ports=ports,
                                                  assigned=assigned)))
        for step in steps:
            if callable(step):
                step(h, prefix)
                continue
            variant, arguments, expected = step
            printers = prefix.printers()
            rc = msiexec(prefix, case_package(h, variant), *arguments).rc
            check(rc in (expected if isinstance(expected, tuple) else (expected,)),
                  "msiexec %s: exit code %d, expected %r" % (" ".join(arguments), rc, expected))
        if left == "removed":
            log += log_bytes(uninstall_transcript(STANDARD, WIN7_32, disconnect_block(
                printers, [c["PortName"] for c in ports], STANDARD),
                put_back=assigned_put_back(assigned)))
            check_log(prefix, log, name)
            check_removed(prefix, STANDARD, ports, msi)
            check_monitor(prefix, ENTERPRISE, False, present=False)
        elif left == "kept":  # the package's entry is gone, what Install.exe installed stays
            check(not prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32"),
                  "the package's entry is still there")
            check_installed(prefix, STANDARD, ports, assigned)
        elif left == "gone":  # no monitor of either edition, no package
            check_monitor(prefix, STANDARD, False, present=False)
            check_monitor(prefix, ENTERPRISE, False, present=False)
            check_package(prefix, msi, present=False)
        elif left == "installed":
            check_installed(prefix, STANDARD, ports, assigned)
        elif left == "nothing":
            check_package(prefix, msi, present=False)
            check(not prefix.host("C:\\windows\\TLPortInstall.log").exists(), "Install.exe ran")
        elif left == "not verified":  # the check's verdict failed the installation
            text = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
            check(b"ERROR - Printer 'Tolvo Missing Printer' NOT found" in text and text.endswith(
                b"NOT Installed as Configured!\r\n"), "run log:\n" + text.decode("cp1252"))
            check(not prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32"),
                  "the package's entry is still there")
        elif left == "previous":  # refused before its first change: the previous version stays
            text = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
            failed = (b"  - Checking Files\r\nERROR While Checking 'TOLVOVS.DLL': Not a 32-bit "
                      b"Windows DLL.\r\n\r\nTolvo Port Monitor Not ")
            check(text.startswith(log) and text.endswith(failed + b"Installed!\r\n"),
                  "run log:\n" + text.decode("cp1252"))
            check(prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32"),
                  "the previous version's entry is gone")
            check_installed(prefix, STANDARD, ports, assigned)
    run.__name__ = name
    TESTS.append(run)


for case in PACKAGE_CASES:
    package_case(*case)

