##
## This file is part of the qvin27319 evaluation program (MIT licence).
##

'''
The QVIN27319 inclinometer's register protocol over SPI, stacked on the SPI decoder with
16-bit words (wordsize=16, cpol=0, cpha=1).

A frame with bit 15 set writes a byte: bits 14-8 are its address, bits 7-0 the data; the
part's registers are 16 bits wide, at even addresses, written a byte at a time. A frame
with bit 15 clear asks for the register at bits 14-8; the part answers during the next
frame, whatever that frame carries, so each answer is shown under the request it answers.
'''

from .pd import Decoder
