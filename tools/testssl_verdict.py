#!/usr/bin/env python3
"""Whether a testssl.sh scan (its --jsonfile) passes the TLS check.

usage: testssl_verdict.py SCAN.json [IGNORED_ID...]

Prints the findings that fail (and those ignored) and exits 1 when any
fails. testssl.sh rates each finding CRITICAL, HIGH, MEDIUM, LOW, OK or
INFO (WARN and FATAL are trouble on its own side). A finding fails when it
is rated CRITICAL; when it is rated HIGH (what testssl.sh marks "NOT ok"
on its screen); or when its text says "VULNERABLE" in capitals or
"NOT ok", whatever its rating (testssl.sh writes "not vulnerable" for a
pass). A FATAL finding fails, and so does a scan that lacks a result of
one of its parts, so that a scan that stopped early does not pass for a
clean one.
"""
import json
import sys

# One result from each part of the scan: protocols, cipher categories,
# forward secrecy, the certificate and the vulnerabilities.
EXPECTED_IDS = frozenset({
    'SSLv2', 'SSLv3', 'TLS1', 'TLS1_1', 'TLS1_2', 'TLS1_3',
    'cipherlist_NULL', 'cipherlist_EXPORT', 'cipherlist_STRONG', 'PFS', 'cert_chain_of_trust',
    'heartbleed', 'CCS', 'ROBOT', 'secure_renego', 'secure_client_renego', 'CRIME_TLS',
    'POODLE_SSL', 'fallback_SCSV', 'SWEET32', 'FREAK', 'DROWN', 'LOGJAM', 'BEAST', 'LUCKY13', 'RC4',
})


def fails(finding):
    severity, text = finding.get('severity', ''), finding.get('finding', '')
    return (severity in ('CRITICAL', 'HIGH', 'FATAL')
            or 'VULNERABLE' in text or 'NOT ok' in text)


def describe(finding):
    return '%s [%s] %s' % (finding.get('id'), finding.get('severity'), finding.get('finding'))


def verdict(findings, ignored):
    """(failures, ignored findings, warnings), each a list of lines."""
    failures, skipped, warnings = [], [], []
    for f in findings:
        if f.get('severity') == 'WARN':
            warnings.append(describe(f))
        elif fails(f):
            if f.get('id') in ignored and f.get('severity') != 'FATAL':
                skipped.append(describe(f))
            else:
                failures.append(describe(f))
    missing = sorted(EXPECTED_IDS - {f.get('id') for f in findings})
    if missing:
        failures.append('no result for: ' + ' '.join(missing))
    return failures, skipped, warnings


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with open(sys.argv[1]) as f:
        findings = json.load(f)
    failures, skipped, warnings = verdict(findings, set(sys.argv[2:]))
    counts = {}
    for f in findings:
        counts[f.get('severity')] = counts.get(f.get('severity'), 0) + 1
    print('   findings by rating: ' + ', '.join('%s %d' % kv for kv in sorted(counts.items())))
    for f in findings:
        if f.get('severity') in ('MEDIUM', 'LOW') and not fails(f):
            print('   noted (not failing): ' + describe(f))
    for line in warnings:
        print('   testssl.sh warning (not counted): ' + line)
    for line in skipped:
        print('   ignored (test certificate): ' + line)
    for line in failures:
        print('   NOT PASSED: ' + line)
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
