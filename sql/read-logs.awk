# SPDX-License-Identifier: Apache-2.0
# Reads terminal logs by the rule settle reads them by, for the loaders of this directory:
#   LC_ALL=C REJECTED=FILE awk -f read-logs.awk LOG...
# A record is eleven fields separated by any white space, line ends included: five 32-bit
# numbers, a letter, a 32-bit number, two letters, two 64-bit numbers. A number is an optional
# sign and decimal digits, leading zeros allowed; a letter is a field of exactly one byte. Each
# whole record goes to standard output as one CSV row of log_entry (log_entry.sql), numbers
# written plainly, letters quoted, the name of its file last; a letter outside printable ASCII is written as "?", which
# every engine can hold and which changes no credit. A damaged record (a field that is not a
# value in range, or too few fields before the end of its log) costs only itself: the name of
# its log and the line where it began go to the file $REJECTED as a CSV row of rejected_line,
# and the reading goes on at the start of the line after that one, so the lines the record ran
# on to are read again. Ends with status 1, having written only part, when a log cannot be read.
# Needs byte semantics: run it with LC_ALL=C.

# The value of the number |tok| in canonical form, or "" when it is no number of |bits| bits.
function number(tok, bits,    negative, digits, most) {
  if (tok !~ /^[-+]?[0-9]+$/) return ""
  negative = substr(tok, 1, 1) == "-"
  digits = tok
  sub(/^[-+]/, "", digits)
  sub(/^0+/, "", digits)
  if (digits == "") return "0"
  if (bits == 32) most = negative ? "2147483648" : "2147483647"
  else most = negative ? "9223372036854775808" : "9223372036854775807"
  if (length(digits) > length(most)) return ""
  if (length(digits) == length(most) && (digits "") > (most "")) return ""
  return (negative ? "-" : "") digits
}

# The letter |tok| as a quoted CSV field, or "" when it is not one byte.
function letter(tok) {
  if (length(tok) != 1) return ""
  if (tok !~ /^[!-~]$/) tok = "?"
  if (tok == "\"") tok = "\"\""
  return "\"" tok "\""
}

# Field |n| (1 to 11) of a record read from |tok|, or "" when |tok| cannot be that field.
function field(n, tok) {
  if (n == 6 || n == 8 || n == 9) return letter(tok)
  return number(tok, n >= 10 ? 64 : 32)
}

# Drops the record under way as damaged and puts back, at the front of the queue, its fields
# from the lines after the one where it began, then |tok| of line |at| when that is one of them.
function damaged(at, tok,    k, n) {
  print name "," start > rejected
  n = 0
  for (k = 1; k <= fields; ++k) {
    if (fline[k] > start) { ++n; back_line[n] = fline[k]; back_tok[n] = ftok[k] }
  }
  if (at > start) { ++n; back_line[n] = at; back_tok[n] = tok }
  for (k = n; k >= 1; --k) { --head; qline[head] = back_line[k]; qtok[head] = back_tok[k] }
  fields = 0
  skip_to = start
}

# Reads the queued fields into records, skipping the fields of lines up to skip_to.
function drain(    at, tok, value, k, row) {
  while (head < tail) {
    at = qline[head]; tok = qtok[head]
    delete qline[head]; delete qtok[head]
    ++head
    if (at <= skip_to) continue
    if (fields == 0) start = at
    value = field(fields + 1, tok)
    if (value == "") { damaged(at, tok); continue }
    ++fields
    fline[fields] = at; ftok[fields] = tok; fvalue[fields] = value
    if (fields == 11) {
      row = fvalue[1]
      for (k = 2; k <= 11; ++k) row = row "," fvalue[k]
      print row ",\"" name "\""
      fields = 0
    }
  }
}

function read_log(path,    status, text, line, n, k, parts) {
  name = path
  sub(/.*\//, "", name)
  head = tail = fields = skip_to = line = 0
  while ((status = (getline text < path)) > 0) {
    ++line
    n = split(text, parts, blanks)
    for (k = 1; k <= n; ++k) {
      if (parts[k] != "") { qline[tail] = line; qtok[tail] = parts[k]; ++tail }
    }
    drain()
  }
  close(path)
  if (status < 0) return 0
  # A record still under way at the end of its log is cut short.
  while (fields > 0) {
    damaged(0, "")
    drain()
  }
  return 1
}

BEGIN {
  blanks = "[ \t\013\014\r]+"
  rejected = ENVIRON["REJECTED"]
  if (rejected == "") rejected = "/dev/null"
  printf "" > rejected
  for (i = 1; i < ARGC; ++i) {
    if (!read_log(ARGV[i])) {
      print "cannot read " ARGV[i] > "/dev/stderr"
      exit 1
    }
  }
  exit 0
}
