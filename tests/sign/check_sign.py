#!/usr/bin/python3
"""Sign the three programs with a throw-away certificate and check the result.

Usage: check_sign.py DIST_DIR

Makes a CA and a code-signing certificate with openssl in a temporary folder,
signs DIST_DIR's programs with scripts/sign, in both of its forms (a PKCS#12
file with its password, and a certificate and key in PEM form), into
DIST_DIR/signed, where they stay for the other checks. Then, for each program:
osslsigncode verify against that CA passes; it fails, and so do the PE checks,
once one byte is changed; the PE checks fail for data after the certificate
table; remove-signature gives back the unsigned bytes. A wrong or missing
password, a key of another certificate and a missing file make scripts/sign
fail with its message and write nothing. Last line "sign: N passed, M failed".
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
SIGN = os.path.join(REPO, 'scripts', 'sign')
CHECK_PE = os.path.join(REPO, 'tests', 'pe', 'check_pe.py')
PROGRAMS = ('tvlinst', 'setup', 'tvluninstall')
PASSWORD = 'throw-away'
CODE_SIGNING = ('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n'
                'extendedKeyUsage=codeSigning\n')


def run(args, env=None):
    return subprocess.run(args, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, **(env or {})))


def openssl(*args):
    subprocess.run(('openssl',) + args, check=True, capture_output=True, timeout=60)


def make_certificates(tmp):
    """A CA, a certificate it issues for code signing, and one more key; the files by role."""
    f = {k: os.path.join(tmp, n) for k, n in (
        ('ca', 'ca.pem'), ('ca_key', 'ca.key'), ('key', 'key.pem'), ('csr', 'req.csr'),
        ('cert', 'cert.pem'), ('chain', 'chain.pem'), ('ext', 'ext.cnf'),
        ('p12', 'signer.p12'), ('other_key', 'other.key'))}
    openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', f['ca_key'],
            '-out', f['ca'], '-days', '2', '-subj', '/CN=Throw-away test CA',
            '-addext', 'basicConstraints=critical,CA:TRUE',
            '-addext', 'keyUsage=critical,keyCertSign,cRLSign')
    openssl('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', f['key'], '-out', f['csr'],
            '-subj', '/CN=Throw-away test signer')
    with open(f['ext'], 'w') as out:
        out.write(CODE_SIGNING)
    openssl('x509', '-req', '-in', f['csr'], '-CA', f['ca'], '-CAkey', f['ca_key'],
            '-CAcreateserial', '-out', f['cert'], '-days', '2', '-extfile', f['ext'])
    with open(f['chain'], 'w') as out:
        for part in (f['cert'], f['ca']):
            with open(part) as src:
                out.write(src.read())
    openssl('pkcs12', '-export', '-in', f['cert'], '-inkey', f['key'], '-certfile', f['ca'],
            '-out', f['p12'], '-passout', 'pass:' + PASSWORD)
    openssl('genrsa', '-out', f['other_key'], '2048')
    return f


def state(dist):
    """Every file under dist with its bytes and modification time."""
    found = {}
    for root, _, files in os.walk(dist):
        for name in files:
            path = os.path.join(root, name)
            with open(path, 'rb') as fh:
                found[os.path.relpath(path, dist)] = (fh.read(), os.stat(path).st_mtime_ns)
    return found


def check_signed(c, dist, ca, tmp):
    for name in PROGRAMS:
        signed = os.path.join(dist, 'signed', name + '.exe')
        with open(os.path.join(dist, name + '.exe'), 'rb') as fh:
            unsigned = fh.read()
        r = run(['osslsigncode', 'verify', '-CAfile', ca, '-in', signed])
        for line in r.stdout.splitlines():
            if line.startswith(('Signature verification', 'Succeeded', 'Failed')):
                print('  %s verify: %s' % (name, line))
        c.check(r.returncode == 0, '%s: osslsigncode verify against the CA passes\n%s'
                % (name, r.stdout + r.stderr))

        with open(signed, 'rb') as fh:
            data = bytearray(fh.read())
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
        with open(restored, 'rb') as fh:
            same = fh.read() == unsigned
        print('  %s: %d bytes signed, %d unsigned; remove-signature gives %s'
              % (name, len(data), len(unsigned), 'the same bytes' if same else 'OTHER BYTES'))
        c.check(r.returncode == 0 and same, '%s: remove-signature gives the unsigned bytes' % name)


def check_refused(c, dist, f):
    before = state(dist)
    cases = (
        ('a wrong password', ['--pkcs12', f['p12']], {'SIGN_PASSWORD': 'wrong'},
         'wrong password for'),
        ('no password', ['--pkcs12', f['p12']], None, 'SIGN_PASSWORD is not set'),
        ('the key of another certificate', ['--cert', f['chain'], '--key', f['other_key']],
         None, 'is not the key of the certificate'),
        ('a missing certificate file', ['--cert', f['chain'] + '.missing', '--key', f['key']],
         None, 'cannot read the certificate file'),
    )
    for what, args, env, message in cases:
        full_env = {k: v for k, v in os.environ.items() if k != 'SIGN_PASSWORD'}
        full_env.update(env or {})
        r = subprocess.run([SIGN, '--dist', dist] + args, capture_output=True, text=True,
                           timeout=120, env=full_env, stdin=subprocess.DEVNULL)
        print('  %s: exit %d, %s' % (what, r.returncode, r.stderr.strip().splitlines()[-1:]))
        c.check(r.returncode != 0 and ('scripts/sign: ' in r.stderr and message in r.stderr),
                '%s: scripts/sign fails saying "%s" (exit %d)\n%s'
                % (what, message, r.returncode, r.stderr))
        c.check(state(dist) == before, '%s: nothing written in %s' % (what, dist))


class Checker:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print('FAIL: ' + what)
        return ok


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
                ('a PKCS#12 file', ['--pkcs12', f['p12']], {'SIGN_PASSWORD': PASSWORD})):
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
