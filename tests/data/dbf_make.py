"""Writes a small table with python3-dbf: dbf_make.py PATH TYPE, where TYPE is
a python3-dbf table type (db3, fp, vfp). Records: NAME, BORN, QTY."""
import datetime
import sys

import dbf

path, kind = sys.argv[1], sys.argv[2]
table = dbf.Table(path, 'NAME C(20); BORN D; QTY N(6,0)', dbf_type=kind)
table.open(dbf.READ_WRITE)
rows = [('Mueller', datetime.date(1961, 3, 5), 12), ('Abbot', datetime.date(2005, 6, 15), 0),
        ('Zeta One', None, 999999), ('abbot', datetime.date(1999, 12, 31), -5), ('Mueller', None, 7),
        ('', datetime.date(2000, 1, 1), 1)]
for i in range(200):
    rows.append(('Name%04d' % ((i * 7919) % 1000), datetime.date(2000 + i % 20, 1 + i % 12, 1 + i % 28), i))
for row in rows:
    table.append(row)
table.close()
