#!/bin/sh
# gpg.exe on Linux: runs the system's GnuPG with the arguments it is given.
# Batch mode with no terminal, so an unattended run can never wait for an
# answer: a question gpg would ask becomes a failure instead.
# The registry's public key lives in a GnuPG home named "gnupg" beside this
# launcher; without that folder gpg uses the user's own home (~/.gnupg).
# What gpg writes (the encrypted archive) is readable by its owner only.
# Whatever goes wrong is said on standard error: the program journals it.
umask 077
here=$(dirname "$(readlink -f "$0")")
if [ -d "$here/gnupg" ]; then
    GNUPGHOME="$here/gnupg"
    export GNUPGHOME
fi
if ! command -v gpg >/dev/null 2>&1; then
    echo "gpg.exe (RODERUV): GnuPG (gpg) was not found on PATH; install the gnupg package" >&2
    exit 2
fi
exec gpg --batch --no-tty --yes --trust-model always "$@" </dev/null
