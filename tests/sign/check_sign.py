#!/usr/bin/python3
"""Sign the three programs with a throw-away certificate and check the result.

Usage: check_sign.py DIST_DIR

Signs DIST_DIR's programs into DIST_DIR/signed (kept for the other checks)
with scripts/sign in both its forms, PKCS#12 and PEM, with a CA and a
code-signing certificate made with openssl. For each program: verify against
that CA passes, and fails (as do the PE checks) once a byte is changed;
remove-signature gives back the unsigned bytes. Wrong or missing input makes
scripts/sign fail with its message and write nothing.
"""
import os
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN = os.path.join(REPO, 'scripts', 'sign')
CHECK_PE = os.path.join(REPO, 'tests', 'pe', 'check_pe.py')
sys.path.insert(0, os.path.dirname(CHECK_PE))
from check_pe import Checker  # noqa: E402
PROGRAMS = ('tvlinst', 'setup', 'tvluninstall', 'tvluser')
PASSWORD = 'throw-away'
CODE_SIGNING = ('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n'
                'extendedKeyUsage=codeSigning\n')


def run(args, env=None):
    """Run without a terminal; SIGN_PASSWORD only as env gives it."""
    clean = {k: v for k, v in os.environ.items() if k != 'SIGN_PASSWORD'}
    return subprocess.run(args, capture_output=True, text=True, timeout=120,
                          env=dict(clean, **(env or {})), stdin=subprocess.DEVNULL)


def openssl(*args):
    subprocess.run(('openssl',) + args, check=True, capture_output=True, timeout=60)


def make_certificates(tmp):
    """A CA, a code-signing certificate it issues (alone, with the CA in chain.pem, and with
    its key in signer.p12), and one more key; the files by their names without extension."""
    f = {n.split('.')[0]: os.path.join(tmp, n) for n in (
        'ca.pem', 'ca_key.pem', 'key.pem', 'req.csr', 'cert.pem', 'chain.pem', 'ext.cnf',
        'signer.p12', 'other_key.pem')}
    openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', f['ca_key'], '-out',
            f['ca'], '-days', '2', '-subj', '/CN=Throw-away test CA',
            '-addext', 'basicConstraints=critical,CA:TRUE',
            '-addext', 'keyUsage=critical,keyCertSign,cRLSign')
    openssl('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', f['key'], '-out', f['req'],
            '-subj', '/CN=Throw-away test signer')
    with open(f['ext'], 'w') as out:
        out.write(CODE_SIGNING)
    openssl('x509', '-req', '-in', f['req'], '-CA', f['ca'], '-CAkey', f['ca_key'],
            '-CAcreateserial', '-out', f['cert'], '-days', '2', '-extfile', f['ext'])
    with open(f['chain'], 'wb') as out:
        out.write(read(f['cert']) + read(f['ca']))
    openssl('pkcs12', '-export', '-in', f['cert'], '-inkey', f['key'], '-certfile', f['ca'],
            '-out', f['signer'], '-passout', 'pass:' + PASSWORD)
    openssl('genrsa', '-out', f['other_key'], '2048')
    return f


def read(path):
    with open(path, 'rb') as fh:
        return fh.read()


def state(dist):
    """Every file under dist with its bytes and modification time."""
    found = {}
    for root, _, files in os.walk(dist):
        for name in files:
            path = os.path.join(root, name)
            found[os.path.relpath(path, dist)] = (read(path), os.stat(path).st_mtime_ns)
    return found


def check_signed(c, dist, ca, tmp):
    for name in PROGRAMS:
        signed = os.path.join(dist, 'signed', name + '.exe')
        unsigned = read(os.path.join(dist, name + '.exe'))
        r = run(['osslsigncode', 'verify', '-CAfile', ca, '-in', signed])
        for line in r.stdout.splitlines():
            if line.startswith(('Signature verification', 'Succeeded', 'Failed')):
                print('  %s verify: %s' % (name, line))
        c.check(r.returncode == 0, '%s: osslsigncode verify against the CA passes\n%s'
                % (name, r.stdout + r.stderr))

        data = bytearray(read(signed))
        changed = os.path.join(tmp, 'changed.exe')
        data[len(unsigned) // 2] ^= 0x01  # within the image's sections
        with open(changed, 'wb') as fh:
            fh.write(data)
        r = run(['osslsigncode', 'verify', '-CAfile', ca, '-in', changed])
        c.check(r.returncode != 0, '%s: verify fails once one byte is changed' % name)
        r = run(['/usr/bin/python3', CHECK_PE, changed, name])
        c.check(r.returncode != 0 and 'FAIL: PE checksum' in r.stdout,
                '%s: the PE checks find the checksum wrong once one byte is changed\n%s'
                % (name, r.stdout))
        data[len(unsigned) // 2] ^= 0x01
        with open(changed, 'wb') as fh:
            fh.write(data + b'\0' * 8)
        r = run(['/usr/bin/python3', CHECK_PE, changed, name])
        c.check(r.returncode != 0 and 'FAIL: certificate table last' in r.stdout,
                '%s: the PE checks find data after the certificate table\n%s' % (name, r.stdout))

        restored = os.path.join(tmp, 'restored.exe')
        if os.path.exists(restored):  # osslsigncode writes no file that exists
            os.remove(restored)
        r = run(['osslsigncode', 'remove-signature', '-in', signed, '-out', restored])
        same = r.returncode == 0 and read(restored) == unsigned
        print('  %s: %d bytes signed, %d unsigned; remove-signature gives %s'
              % (name, len(data), len(unsigned), 'the same bytes' if same else 'OTHER BYTES'))
        c.check(same, '%s: remove-signature gives the unsigned bytes' % name)


def check_refused(c, dist, f):
    before = state(dist)
    cases = (
        ('a wrong password', ['--pkcs12', f['signer']], {'SIGN_PASSWORD': 'wrong'},
         'wrong password for'),
        ('no password', ['--pkcs12', f['signer']], None, 'SIGN_PASSWORD is not set'),
        ('the key of another certificate', ['--cert', f['chain'], '--key', f['other_key']],
         None, 'is not the key of the certificate'),
        ('a missing certificate file', ['--cert', f['chain'] + '.missing', '--key', f['key']],
         None, 'cannot read the certificate file'),
    )
    for what, args, env, message in cases:
        r = run([SIGN, '--dist', dist] + args, env)
        print('  %s: exit %d, %s' % (what, r.returncode, r.stderr.strip().splitlines()[-1:]))
        c.check(r.returncode != 0 and ('scripts/sign: ' in r.stderr and message in r.stderr),
                '%s: scripts/sign fails saying "%s" (exit %d)\n%s'
                % (what, message, r.returncode, r.stderr))
        c.check(state(dist) == before, '%s: nothing written in %s' % (what, dist))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write('usage: check_sign.py DIST_DIR\n')
        return 2
    dist = os.path.abspath(argv[1])
    c = Checker()
    with tempfile.TemporaryDirectory(prefix='sign-') as tmp:
        f = make_certificates(tmp)
        unsigned = {n: v for n, v in state(dist).items() if os.sep not in n}
        for form, args, env in (
                ('a PEM certificate chain and key', ['--cert', f['chain'], '--key', f['key']], None),
                ('a PKCS#12 file', ['--pkcs12', f['signer']], {'SIGN_PASSWORD': PASSWORD})):
            r = run([SIGN, '--dist', dist] + args, env)
            print('signed with %s: exit %d' % (form, r.returncode))
            if not c.check(r.returncode == 0, 'scripts/sign with %s succeeds\n%s'
                           % (form, r.stdout + r.stderr)):
                continue
            check_signed(c, dist, f['ca'], tmp)
        print('refused:')
        check_refused(c, dist, f)
        c.check({n: v for n, v in state(dist).items() if os.sep not in n} == unsigned,
                'the unsigned programs in %s stay as they were' % dist)
    print('sign: %d passed, %d failed' % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
