# How this project runs Wine, decided in one place. Sourced (never run) by every script that runs
# a Windows program: the test runner, the demo, the benches, the installer and health-check tests.
#
# Debian's `wine` command starts Wine's 32-bit loader first, and a kernel without 32-bit support
# ("32-bit emulation disabled") refuses that loader, so every call would fail, for 64-bit programs
# too. On such a machine everything goes through the 64-bit loader by its path; a 32-bit program
# it starts is handed to the 32-bit loader, which then runs only where the qemu-i386 emulator is
# registered (qvr_emulator_on). Where the kernel runs 32-bit programs itself, Debian's command is
# used as it always was.
#
# After sourcing:
#   QVR_NATIVE32=1|0         whether the kernel runs 32-bit x86 programs itself (exported, so that
#                            child scripts do not check again)
#   qvr_wine <program> ...   runs a Windows program, or one of Wine's own: qvr_wine wineboot -i,
#                            qvr_wine winepath -w F, qvr_wine reg add ..., qvr_wine regsvr32 ...,
#                            qvr_wine msiexec ...
#   qvr_wineserver ...       the wineserver matching that loader (-k, -w)
#   qvr_wine_version         Wine's version text
#   qvr_prepare_prefix       settings every prefix of ours gets once booted (WINEPREFIX set)
#   qvr_emulator_on / qvr_emulator_restore
#                            registers and enables the qemu-i386 emulator for 32-bit programs
#                            (root), and puts back the state found before

QVR_WINE64_LOADER=/usr/lib/wine/wine64

# A minimal 32-bit x86 Linux program (ELF header, one loadable segment, exit(0) through int 0x80).
# Its identification bytes 9-11 are not zero, so that the emulator's binfmt_misc entry (which
# expects zeros there) never takes it: it runs only where the kernel itself runs 32-bit programs,
# and the answer is the same before and after the emulator is registered.
qvr_check_native32() {
  local probe status=0
  probe="$(mktemp "${TMPDIR:-/tmp}/qvr-native32.XXXXXX")" || return 1
  printf '\x7fELF\x01\x01\x01\x00\x00QVR\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1 || status=1
  rm -f "$probe"
  return $status
}

if [ -z "${QVR_NATIVE32:-}" ]; then
  if qvr_check_native32; then QVR_NATIVE32=1; else QVR_NATIVE32=0; fi
  export QVR_NATIVE32
fi

if [ "$QVR_NATIVE32" = 1 ]; then
  qvr_wine() { wine "$@"; }
  qvr_wineserver() { wineserver "$@"; }
else
  # The 64-bit loader by its path; WINELOADER tells Wine which loader to start for further
  # processes (and, with "64" taken off, which one runs a 32-bit program).
  export WINELOADER="$QVR_WINE64_LOADER"
  qvr_wine() { "$QVR_WINE64_LOADER" "$@"; }
  qvr_wineserver() { /usr/lib/wine/wineserver64 -p0 "$@"; }
fi
export -f qvr_wine qvr_wineserver

qvr_wine_version() { qvr_wine --version; }

# A crashing program starts Wine's debugger, which by default also opens a crash dialog and waits
# for someone to close it: a test then hangs until its time-out. Without the dialog the debugger
# writes the crash and its backtrace to the program's error output and ends the program at once.
qvr_prepare_prefix() {
  qvr_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}

# The qemu-i386 user emulator as the kernel's handler of 32-bit x86 programs (Debian's package
# registers every architecture but the host's own family, so the entry is written here). The
# magic and mask are the emulator's own for i386 programs; F opens the emulator now, so that it is
# found from any mount namespace.
QVR_BINFMT=/proc/sys/fs/binfmt_misc
QVR_EMULATOR_ENTRY="$QVR_BINFMT/qemu-i386"
qvr_emulator_was=""
qvr_emulator_on() {
  if [ ! -x /usr/bin/qemu-i386-static ]; then
    echo "wine-env: /usr/bin/qemu-i386-static is missing; install qemu-user-static (scripts/setup-machine.sh)" >&2
    return 1
  fi
  if [ ! -e "$QVR_BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$QVR_BINFMT" 2>/dev/null || {
      echo "wine-env: cannot mount binfmt_misc on $QVR_BINFMT (needs root)" >&2
      return 1
    }
  fi
  if [ -e "$QVR_EMULATOR_ENTRY" ]; then
    qvr_emulator_was="$(head -n 1 "$QVR_EMULATOR_ENTRY")"
    [ "$qvr_emulator_was" = enabled ] && return 0
    echo 1 >"$QVR_EMULATOR_ENTRY" 2>/dev/null || {
      echo "wine-env: cannot enable $QVR_EMULATOR_ENTRY (needs root)" >&2
      return 1
    }
  else
    qvr_emulator_was=absent
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$QVR_BINFMT/register" 2>/dev/null || {
      echo "wine-env: cannot register the qemu-i386 emulator with binfmt_misc (needs root)" >&2
      return 1
    }
  fi
}

# Leaves the emulator as it was found: off again after a run that turned it on, so that the next
# prefix booted by the 64-bit loader does not spend minutes on its 32-bit part under emulation.
qvr_emulator_restore() {
  case "$qvr_emulator_was" in
    absent) echo -1 >"$QVR_EMULATOR_ENTRY" 2>/dev/null || true ;;
    disabled) echo 0 >"$QVR_EMULATOR_ENTRY" 2>/dev/null || true ;;
  esac
  qvr_emulator_was=""
}
