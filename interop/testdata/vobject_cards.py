"""Prints every card of a vCard file as python3-vobject reads it, as one JSON list: for
each card, for each property (upper-case name), a list of [value, sorted TYPE words]; N,
ADR, ORG and CATEGORIES values are lists.

    vobject_cards.py FILE
"""
import json, sys, vobject
def flat(v):
    return ",".join(v) if isinstance(v, list) else v
cards = []
with open(sys.argv[1], encoding="utf-8") as f:
    for card in vobject.readComponents(f.read()):
        out = {}
        for line in card.getChildren():
            name = line.name.upper()
            if name in ("VERSION", "PRODID"):
                continue
            v = line.value
            if name == "N":
                v = [flat(v.family), flat(v.given), flat(v.additional), flat(v.prefix), flat(v.suffix)]
            elif name == "ADR":
                v = [flat(v.box), flat(v.extended), flat(v.street), flat(v.city), flat(v.region),
                     flat(v.code), flat(v.country)]
            elif name == "ORG":
                v = [flat(x) for x in v]
            types = sorted(t.upper() for p in line.params.get("TYPE", []) for t in p.split(","))
            out.setdefault(name, []).append([v, types])
        cards.append(out)
print(json.dumps(cards, ensure_ascii=False))
