##
## This file is part of the qvin27319 evaluation program (MIT licence).
##

import sigrokdecode as srd

# The part's registers by address, as qvin-cli registers lists them.
REGISTERS = {
    0x00: 'Fls_Cyc',
    0x02: 'Supply_Out',
    0x04: 'Xaccel_Out',
    0x06: 'Yaccel_Out',
    0x08: 'Aux_ADC',
    0x0A: 'Temp_Out',
    0x0C: 'Incl_Out',
    0x0E: 'Incl_180_Out',
    0x18: 'Incl_Null',
    0x20: 'Alm_Mag1',
    0x22: 'Alm_Mag2',
    0x24: 'Alm_Smp1',
    0x26: 'Alm_Smp2',
    0x28: 'Alm_Ctrl',
    0x30: 'Aux_DAC',
    0x32: 'Gpio_Ctrl',
    0x34: 'Msc_Ctrl',
    0x36: 'Smpl_Prd',
    0x38: 'Avg_Cnt',
    0x3A: 'Pwr_Mde',
    0x3C: 'Status',
    0x3E: 'Command',
    0x42: 'X_Offset',
    0x44: 'X_Scale',
    0x46: 'X_Null',
    0x48: 'Y_Offset',
    0x4A: 'Y_Scale',
    0x4C: 'Y_Null',
    0x4E: 'Y_Phase',
    0x50: 'KeyCode',
    0x52: 'Rev_Day',
    0x54: 'Mon_Year',
    0x56: 'Product',
    0x60: 'Ref0trm',
    0x62: 'Ref1trm',
    0x64: 'Adcof',
    0x66: 'Adcgn',
    0x68: 'Buf0of',
    0x6A: 'Buf1of',
    0x6C: 'Buf2of',
    0x6E: 'Buf3of',
    0x70: 'OscTrm',
    0x7C: 'ADC_Tst',
    0x7E: 'ADC_Slct',
    0x7F: 'Test_Cnfg',
}

def register_name(address):
    if address in REGISTERS:
        return REGISTERS[address]
    # The high byte of a 16-bit register sits at the address after its low byte.
    if address & 1 and (address & ~1) in REGISTERS:
        return REGISTERS[address & ~1] + ' (high byte)'
    return 'register %02X' % address

class Decoder(srd.Decoder):
    api_version = 3
    id = 'qvin27319'
    name = 'QVIN27319'
    longname = 'QVIN27319 inclinometer'
    desc = 'QVIN27319 register reads and writes over 16-bit SPI frames.'
    license = 'mit'
    inputs = ['spi']
    outputs = []
    tags = ['IC', 'Sensor']
    annotations = (
        ('read', 'Register read'),
        ('write', 'Register write'),
        ('again', 'Request repeated to clock out an answer, and what it read'),
    )
    annotation_rows = (
        ('access', 'Register access', (0, 1)),
        ('again', 'Clock-out frames', (2,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.asked = None  # (start, end, address, repeated) of a read request not yet answered

    def start(self):
        self.out_ann = self.register(srd.OUTPUT_ANN)

    def decode(self, ss, es, data):
        if data[0] != 'DATA':
            return
        mosi, miso = data[1], data[2]
        if mosi is None or miso is None:
            return
        # The answer to the request before, clocked out during this frame.
        # A request sent twice in a row is the program clocking out the first one's answer:
        # the second's own answer (read again) comes with whatever frame follows.
        previous = self.asked
        if previous is not None:
            start, _, address, repeated = previous
            name = register_name(address)
            if repeated:
                self.put(start, es, self.out_ann, [2, ['Again %s = %04X' % (name, miso), '%04X' % miso]])
            else:
                self.put(start, es, self.out_ann, [0, ['Read %s = %04X' % (name, miso), '%s = %04X' % (name, miso), '%04X' % miso]])
            self.asked = None
        if mosi & 0x8000:
            address, value = (mosi >> 8) & 0x7F, mosi & 0xFF
            name = register_name(address)
            self.put(ss, es, self.out_ann, [1, ['Write %s <- %02X' % (name, value), '%s <- %02X' % (name, value), '%02X' % value]])
        else:
            address = (mosi >> 8) & 0x7F
            repeated = previous is not None and not previous[3] and previous[2] == address
            self.asked = (ss, es, address, repeated)
