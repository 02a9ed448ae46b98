# Changes settings in a form of the Printer Application's web interface the
# way a browser does: loads the page (keeping its session cookie), takes every
# field of the form with its current value, applies NAME=VALUE arguments and
# posts it back. Exit status 0 when the server answers the post with 200.
import html.parser
import http.cookiejar
import sys
import urllib.parse
import urllib.request


class Form(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.fields, self.action, self.select, self.in_form = {}, None, None, False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "form" and a.get("method", "").lower() == "post" and self.action is None:
            self.action, self.in_form = a.get("action", ""), True
        if not self.in_form:
            return
        name = a.get("name")
        if tag == "input" and name:
            kind = a.get("type", "text")
            if kind in ("checkbox", "radio"):
                if "checked" in a:
                    self.fields[name] = a.get("value", "on")
            elif kind not in ("submit", "button"):
                self.fields[name] = a.get("value", "")
        elif tag == "select" and name:
            self.select = name
        elif tag == "option" and self.select and ("selected" in a or self.select not in self.fields):
            self.fields[self.select] = a.get("value", "")

    def handle_endtag(self, tag):
        if tag == "select":
            self.select = None
        elif tag == "form":
            self.in_form = False


url = sys.argv[1]
opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
form = Form()
form.feed(opener.open(url, timeout=30).read().decode("utf-8", "replace"))
if form.action is None:
    sys.exit("no form on " + url)
for arg in sys.argv[2:]:
    name, value = arg.split("=", 1)
    form.fields[name] = value
data = urllib.parse.urlencode(form.fields).encode()
reply = opener.open(urllib.parse.urljoin(url, form.action or url), data, timeout=30)
print(reply.status, reply.read().decode("utf-8", "replace")[-400:])
sys.exit(0 if reply.status == 200 else 1)
