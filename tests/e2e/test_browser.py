#!/usr/bin/env python3
"""The tests' web browser, set as a desktop sets one ($BROWSER, which xdg-open honours).

  test_browser.py URL

Follows URL as a browser would: the provider's authorization page, which approves at
once, redirects to the program's own handler on 127.0.0.1, whose page ends the sign-in.
Only loopback addresses are visited: it fails (exit status not 0) rather than send
anything elsewhere. Nothing of the addresses (they carry codes) is printed.
"""

import ipaddress
import sys
import urllib.error
import urllib.parse
import urllib.request


def is_loopback(url):
    host = urllib.parse.urlsplit(url).hostname or ""
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


class LoopbackRedirects(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, request, answer, code, message, headers, new_url):
        if not is_loopback(new_url):
            raise urllib.error.URLError("a redirect away from loopback")
        return super().redirect_request(request, answer, code, message, headers, new_url)


def main(arguments):
    if len(arguments) != 1 or not is_loopback(arguments[0]):
        sys.stderr.write("test_browser.py: visits one loopback http address only\n")
        return 2
    # No proxy: a loopback address is never sent elsewhere.
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), LoopbackRedirects())
    try:
        with opener.open(arguments[0], timeout=10) as page:
            page.read()
    except (urllib.error.URLError, OSError) as error:
        sys.stderr.write("test_browser.py: %s\n" % getattr(error, "reason", error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
