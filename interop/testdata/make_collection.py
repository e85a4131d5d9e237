"""Makes /user/NAME/ on a CardDAV or CalDAV server on 127.0.0.1 as a client makes it and
prints the response status.

    make_collection.py PORT addressbook|calendar NAME
"""
import http.client, sys
port, kind, name = int(sys.argv[1]), sys.argv[2], sys.argv[3]
c = http.client.HTTPConnection("127.0.0.1", port)
auth = {"Authorization": "Basic dXNlcjp1c2Vy"}
if kind == "addressbook":
    body = ('<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">'
            '<set><prop><resourcetype><collection/><C:addressbook/></resourcetype></prop></set>'
            '</mkcol>')
    c.request("MKCOL", "/user/%s/" % name, body, auth)
else:
    c.request("MKCALENDAR", "/user/%s/" % name, headers=auth)
print(c.getresponse().status)
