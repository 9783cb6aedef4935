"""Prints every record of a DBF table as python3-dbf reads it:
the deletion mark and the field values, tab-separated, dates as YYYYMMDD,
text without trailing blanks. Used to check what the table layer writes."""
import sys

import dbf

table = dbf.Table(sys.argv[1])
table.open(dbf.READ_ONLY)
try:
    for record in table:
        values = []
        for name in table.field_names:
            v = record[name]
            if v is None:
                v = ''
            elif hasattr(v, 'strftime'):
                v = v.strftime('%Y%m%d')
            elif isinstance(v, float) and v == int(v):
                v = str(int(v))
            elif isinstance(v, bool):
                v = 'T' if v else 'F'
            values.append(str(v).rstrip())
        print('\t'.join(['*' if dbf.is_deleted(record) else ' '] + values))
finally:
    table.close()
