// Prints one table of an Access database as mdb-reader reads it, for the Access tests:
//   node mdb_table.mjs FILE          the user tables, one a line
//   node mdb_table.mjs FILE --all    every table, system tables included
//   node mdb_table.mjs FILE TABLE    one line a row, cells separated by tabs
//   node mdb_table.mjs FILE --password  the database password the header holds
// A cell is N (null), b:true|false, n:NUMBER, d:MILLISECONDS since 1970, x:HEX (binary)
// or s:TEXT with backslash, tab, line feed and carriage return escaped as \\ \t \n \r.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, table] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
const escape = (s) =>
  s.replace(/\\/g, "\\\\").replace(/\t/g, "\\t").replace(/\n/g, "\\n").replace(/\r/g, "\\r");
const cell = (v) => {
  if (v === null || v === undefined) return "N";
  if (typeof v === "boolean") return "b:" + v;
  if (typeof v === "number" || typeof v === "bigint") return "n:" + v.toString();
  if (v instanceof Date) return "d:" + v.getTime();
  if (Buffer.isBuffer(v)) return "x:" + v.toString("hex");
  return "s:" + escape(String(v));
};
if (table === "--password") {
  process.stdout.write(reader.getPassword() ?? "");
} else if (table === "--all") {
  const all = { normalTables: true, systemTables: true, linkedTables: false };
  for (const name of reader.getTableNames(all)) process.stdout.write(name + "\n");
} else if (table === undefined) {
  for (const name of reader.getTableNames()) process.stdout.write(name + "\n");
} else {
  const t = reader.getTable(table);
  const names = t.getColumnNames();
  process.stdout.write(names.map(escape).join("\t") + "\n");
  for (const row of t.getData()) process.stdout.write(names.map((n) => cell(row[n])).join("\t") + "\n");
}
