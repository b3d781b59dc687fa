# Makes one roff man page from its Markdown source, run as cmake -P with GO_MD2MAN, VERSION,
# SOURCE and PAGE set: the version filled in, then go-md2man. Its output gets a first line that
# has man run tbl for the tables, and after the title no hyphenation and a ragged right edge, so
# that commands and messages read as typed (go-md2man's own .nh comes before .TH, which resets
# it). No date goes in, so builds are repeatable.
file(READ ${SOURCE} markdown)
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" markdown "${markdown}")
file(WRITE ${PAGE}.md "${markdown}")
execute_process(COMMAND ${GO_MD2MAN} -in ${PAGE}.md OUTPUT_VARIABLE roff
  COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "(\n\\.TH [^\n]*\n)" "\\1.nh\n.ad l\n" roff "${roff}")
file(WRITE ${PAGE} "'\\\" t\n${roff}")
