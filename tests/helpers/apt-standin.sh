#!/bin/sh
# Test-only stand-in for apt-get, dpkg, dpkg-query, id and sleep, linked
# under those names first on PATH: install-deps.sh meets a package mirror as
# the test row describes it, and nothing is installed. Each call is appended to
# $STANDIN_LOG. The row, in the environment:
#   STANDIN_UPDATE   ok, fail: the i386 security index has the wrong size, or
#                    fail-once: only the first update fails so
#   STANDIN_INSTALL  ok, fail, or suite-only (only with -t SUITE)
#   STANDIN_MISSING  the packages dpkg does not know
#   STANDIN_STATES   PACKAGE=STATE[,STATE]... : dpkg's state of those, one per
#                    architecture, as dpkg -l abbreviates it (others: ii)
#   STANDIN_AUDIT    what dpkg --audit says (an install that was cut off)
#   STANDIN_CONFIGURE_ERROR  dpkg --configure -a fails, saying this last
#   STANDIN_UID      what id -u says (unset: 0, root)
#   STANDIN_FOREIGN  dpkg's foreign architectures (unset: i386)
echo "${0##*/} $*" >>"$STANDIN_LOG"
case "${0##*/} $*" in
  "apt-get "*update*)
    [ "$STANDIN_UPDATE" = ok ] && exit 0
    [ "$STANDIN_UPDATE" = fail-once ] && [ "$(grep -c ' update ' "$STANDIN_LOG")" -gt 1 ] && exit 0
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100 ;;
  "apt-get install"*)
    case "$STANDIN_INSTALL $*" in
      ok*|"suite-only "*" -t "*) exit 0 ;;
    esac
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
  "dpkg-query -W "*)
    for missing in $STANDIN_MISSING; do [ "$3" = "$missing" ] && exit 1; done
    states=ii
    for entry in $STANDIN_STATES; do [ "${entry%%=*}" = "$3" ] && states=${entry#*=}; done
    first=1
    for state in $(echo "$states" | tr , ' '); do
      # Each later line comes once a reader that stopped at the first is gone.
      [ -z "$first" ] && /bin/sleep 0.2
      first=
      case "$state" in
        ?i) echo installed ;; ?F) echo half-configured ;; ?U) echo unpacked ;;
        ?c) echo config-files ;; *) echo not-installed ;;
      esac
    done ;;
  "dpkg --print-foreign-architectures") echo "${STANDIN_FOREIGN-i386}" ;;
  "dpkg --audit") echo "$STANDIN_AUDIT" ;;
  "dpkg --configure -a")
    [ -z "$STANDIN_CONFIGURE_ERROR" ] && exit 0
    echo "Setting up cmake ..." && echo "$STANDIN_CONFIGURE_ERROR" >&2
    exit 1 ;;
  "id -u") echo "${STANDIN_UID:-0}" ;;
esac
exit 0
