#!/usr/bin/env python3
"""The TLS check's verdict on testssl.sh findings: what fails, what is
ignored, and that an incomplete scan never passes."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from testssl_verdict import EXPECTED_IDS, verdict  # noqa: E402


def clean_scan():
    """A complete scan with nothing wrong, as testssl.sh reports a good server."""
    return [{'id': i, 'severity': 'OK', 'finding': 'not vulnerable'} for i in sorted(EXPECTED_IDS)]


def with_finding(ident, severity, text):
    scan = [f for f in clean_scan() if f['id'] != ident]
    return scan + [{'id': ident, 'severity': severity, 'finding': text}]


class Verdict(unittest.TestCase):
    def test_clean_complete_scan_passes_with_benign_low_and_info(self):
        scan = clean_scan() + [
            {'id': 'HSTS', 'severity': 'LOW', 'finding': 'not offered'},
            {'id': 'LUCKY13', 'severity': 'LOW', 'finding': 'potentially vulnerable, uses TLS CBC ciphers'},
            {'id': 'security_headers', 'severity': 'MEDIUM', 'finding': '--'},
            {'id': 'RC4', 'severity': 'WARN', 'finding': 'RC4 ciphers not supported by local OpenSSL'},
        ]
        failures, skipped, warnings = verdict(scan, set())
        self.assertEqual(failures, [])
        self.assertEqual(skipped, [])
        self.assertEqual(len(warnings), 1)

    def test_critical_high_and_vulnerable_findings_fail(self):
        cases = [
            ('heartbleed', 'CRITICAL', 'VULNERABLE'),
            ('SSLv3', 'HIGH', 'offered'),
            ('cipher_order', 'HIGH', 'NOT a cipher order configured'),
            ('secure_client_renego', 'MEDIUM', 'VULNERABLE, potential DoS threat'),
            ('BREACH', 'MEDIUM', 'potentially VULNERABLE, gzip HTTP compression detected'),
            ('some_check', 'LOW', 'NOT ok -- weak'),
            ('scanProblem', 'FATAL', 'could not connect'),
        ]
        for ident, severity, text in cases:
            with self.subTest(ident=ident):
                failures, _, _ = verdict(with_finding(ident, severity, text), set())
                self.assertEqual(len(failures), 1, failures)
                self.assertIn(ident, failures[0])

    def test_only_the_named_ids_are_ignored_and_never_a_fatal_one(self):
        scan = with_finding('cert_revocation', 'HIGH', 'Neither CRL nor OCSP URI provided')
        scan = [f for f in scan if f['id'] != 'cert_chain_of_trust']
        scan.append({'id': 'cert_chain_of_trust', 'severity': 'CRITICAL', 'finding': 'failed (self signed).'})
        failures, skipped, _ = verdict(scan, {'cert_revocation'})
        self.assertEqual(len(skipped), 1)
        self.assertIn('cert_revocation', skipped[0])
        self.assertEqual(len(failures), 1)
        self.assertIn('cert_chain_of_trust', failures[0])
        failures, _, _ = verdict(clean_scan() + [{'id': 'cert_revocation', 'severity': 'FATAL', 'finding': 'x'}],
                                 {'cert_revocation'})
        self.assertEqual(len(failures), 1)

    def test_incomplete_scan_fails_naming_what_is_missing(self):
        scan = [f for f in clean_scan() if f['id'] not in ('TLS1_3', 'ROBOT')]
        failures, _, _ = verdict(scan, set())
        self.assertEqual(failures, ['no result for: ROBOT TLS1_3'])
        self.assertEqual(len(verdict([], set())[0]), 1)


if __name__ == '__main__':
    unittest.main()
