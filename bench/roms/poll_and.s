; poll_and: waits for the vertical blank with LDA $2002 / AND #$80 / BEQ (see poll.inc).
POLL_WITH_AND = 1
.include "poll.inc"
