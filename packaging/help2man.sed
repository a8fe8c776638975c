# Mends two things help2man does with kestrum-estimate's --help.
# A heading with quotes of its own inside (one row "pooled") would end at the first of them.
/^\.SS ".*"$/{
  s/^\.SS "\(.*\)"$/\1/
  s/"/\\(dq/g
  s/^/.SS "/
  s/$/"/
}
# The examples are commands, one a line; help2man would fill them into one paragraph.
/^\.SH EXAMPLES/,/^\.SH/{
  /^[^.]/a\
.br
}
