/* A witness from outside: prints a Paradox table's rows as Debian's pxlib reads them, one
 * line per record, fields separated by '|', "NULL" for an empty field. Dates and times are
 * printed as the raw numbers pxlib returns (days since 1 January of year 1, milliseconds).
 * Used only by the tests; never part of the program. */
#include <paradox.h>
#include <stdio.h>
#include <stdlib.h>

static void PrintField(pxdoc_t* doc, const pxfield_t* f, char* data) {
  char* text = NULL;
  short s;
  long l;
  double d;
  char b;
  switch (f->px_ftype) {
    case pxfAlpha:
      if (PX_get_data_alpha(doc, data, f->px_flen, &text) > 0 && text) {
        fputs(text, stdout);
        doc->free(doc, text);
      } else {
        fputs("NULL", stdout);
      }
      break;
    case pxfShort:
      if (PX_get_data_short(doc, data, f->px_flen, &s) > 0)
        printf("%d", s);
      else
        fputs("NULL", stdout);
      break;
    case pxfLong:
    case pxfAutoInc:
    case pxfDate:
    case pxfTime:
      /* Debian's pxlib 0.6.8 reports an empty long as -2147483648, so look at the bytes. */
      if (!data[0] && !data[1] && !data[2] && !data[3])
        fputs("NULL", stdout);
      else if (PX_get_data_long(doc, data, f->px_flen, &l) > 0)
        printf("%ld", l);
      else
        fputs("NULL", stdout);
      break;
    case pxfNumber:
    case pxfCurrency:
    case pxfTimestamp:
      if (PX_get_data_double(doc, data, f->px_flen, &d) > 0)
        printf("%.17g", d);
      else
        fputs("NULL", stdout);
      break;
    case pxfLogical:
      if (PX_get_data_byte(doc, data, f->px_flen, &b) > 0)
        printf("%d", b);
      else
        fputs("NULL", stdout);
      break;
    default:
      fputs("?", stdout);
  }
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  pxdoc_t* doc = PX_new();
  if (!doc || PX_open_file(doc, argv[1]) < 0) return 3;
  const int fields = PX_get_num_fields(doc);
  const int records = PX_get_num_records(doc);
  pxfield_t* f = PX_get_fields(doc);
  printf("%d records, %d fields\n", records, fields);
  char* data = malloc((size_t)PX_get_recordsize(doc));
  for (int r = 0; r < records; ++r) {
    if (!PX_get_record(doc, r, data)) return 4;
    int offset = 0;
    for (int i = 0; i < fields; ++i) {
      if (i) putchar('|');
      PrintField(doc, &f[i], data + offset);
      offset += f[i].px_flen;
    }
    putchar('\n');
  }
  free(data);
  PX_close(doc);
  PX_delete(doc);
  return 0;
}
