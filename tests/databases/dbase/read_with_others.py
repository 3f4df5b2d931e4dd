#!/usr/bin/python3
"""Prints a dBase table as another program reads it, one record per line, for the tests.

usage: read_with_others.py gdal|dbfread TABLE ENCODING

Each value is a token separated by tabs: \\N for a null, s:TEXT (backslash, tab, CR and
LF escaped), n:NUMBER, b:1 or b:0, d:YYYY-MM-DD, t:YYYY-MM-DD HH:MM:SS.mmm, x:HEX. The
first line holds the field names.
"""
import datetime
import sys


def escape(text):
    return (text.replace('\\', '\\\\').replace('\t', '\\t').replace('\r', '\\r')
            .replace('\n', '\\n'))


def token(value):
    if value is None:
        return '\\N'
    if isinstance(value, bool):
        return 'b:1' if value else 'b:0'
    if isinstance(value, (int, float)):
        return 'n:' + repr(value)
    if isinstance(value, datetime.datetime):
        return 't:' + value.strftime('%Y-%m-%d %H:%M:%S.') + '%03d' % (value.microsecond // 1000)
    if isinstance(value, datetime.date):
        return 'd:%04d-%02d-%02d' % (value.year, value.month, value.day)
    if isinstance(value, (bytes, bytearray)):
        return 'x:' + bytes(value).hex()
    return 's:' + escape(str(value))


def read_gdal(path, encoding):
    from osgeo import gdal, ogr
    gdal.UseExceptions()
    ds = gdal.OpenEx(path, gdal.OF_VECTOR, open_options=['ENCODING=' + encoding])
    layer = ds.GetLayer(0)
    defn = layer.GetLayerDefn()
    names = [defn.GetFieldDefn(i).GetName() for i in range(defn.GetFieldCount())]
    print('\t'.join(names))
    for feature in layer:
        out = []
        for i in range(len(names)):
            kind = defn.GetFieldDefn(i).GetType()
            if not feature.IsFieldSetAndNotNull(i):
                out.append('\\N')
            elif kind == ogr.OFTDate:
                y, m, d = feature.GetFieldAsDateTime(i)[:3]
                out.append('d:%04d-%02d-%02d' % (y, m, d))
            elif kind in (ogr.OFTInteger, ogr.OFTInteger64):
                out.append('n:%d' % feature.GetFieldAsInteger64(i))
            elif kind == ogr.OFTReal:
                out.append('n:' + repr(feature.GetFieldAsDouble(i)))
            else:
                out.append('s:' + escape(feature.GetFieldAsString(i)))
        print('\t'.join(out))


def read_dbfread(path, encoding):
    import dbfread
    table = dbfread.DBF(path, encoding=encoding, char_decode_errors='replace', recfactory=None)
    print('\t'.join(table.field_names))
    for record in table:
        print('\t'.join(token(v) for _, v in record))


if __name__ == '__main__':
    reader, path, encoding = sys.argv[1:4]
    {'gdal': read_gdal, 'dbfread': read_dbfread}[reader](path, encoding)
