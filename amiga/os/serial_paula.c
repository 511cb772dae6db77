#include "serial_paula.h"

#include "amiga.h"

#define CUSTOM ((volatile uint16_t *)0xDFF000)
#define SERDATR (0x018 / 2)
#define INTENAR (0x01C / 2)
#define INTREQR (0x01E / 2)
#define SERDAT (0x030 / 2)
#define SERPER (0x032 / 2)
#define INTENA (0x09A / 2)
#define INTREQ (0x09C / 2)
#define INTB_TBE 0
#define INTB_VERTB 5
#define INTB_RBF 11
#define SET 0x8000

/* CIA-B port A carries the modem lines, active low: RTS out, CTS in. */
#define CIAB_PRA ((volatile uint8_t *)0xBFD000)
#define CIAB_DDRA ((volatile uint8_t *)0xBFD200)
#define CIA_RTS 0x40
#define CIA_CTS 0x10

#define RING_SIZE 8192
#define RING_MASK (RING_SIZE - 1)
/* Below this much room RTS drops, so that the PC pauses before the ring overflows. */
#define RING_LOW_WATER 1024

typedef struct {
    uint8_t ring[RING_SIZE];
    volatile uint16_t head; /* written by the interrupt */
    volatile uint16_t tail; /* written by the task */
    volatile uint8_t waiting;
    volatile uint16_t wanted; /* bytes the waiting task needs before it is worth waking */
    volatile uint8_t rts_held;
    uint8_t handshake;
    volatile int32_t ticks_left;
    volatile uint32_t overruns;
    void *task;
    uint32_t signal;
} Line;

static Line line;
static struct Interrupt rbf, vbl;
static struct Interrupt *previous_rbf;
static int32_t signal_bit = -1;
static uint8_t owns_port, owns_bits, frame_rate = 50;
static Transport transport;

extern void rbf_entry(void);
extern void vbl_entry(void);

static uint16_t room(void)
{
    return (uint16_t)(RING_MASK - ((line.head - line.tail) & RING_MASK));
}

static void set_rts(int on)
{
    if (!line.handshake)
        return;
    if (on)
        *CIAB_PRA &= (uint8_t)~CIA_RTS;
    else
        *CIAB_PRA |= CIA_RTS;
}

void rbf_interrupt(void *data)
{
    (void)data;
    uint16_t word = CUSTOM[SERDATR];
    CUSTOM[INTREQ] = 1u << INTB_RBF;
    uint16_t next = (uint16_t)((line.head + 1) & RING_MASK);
    if (next == line.tail) {
        ++line.overruns;
    } else {
        line.ring[line.head] = (uint8_t)word;
        line.head = next;
    }
    if (line.handshake && !line.rts_held && room() < RING_LOW_WATER) {
        line.rts_held = 1;
        set_rts(0);
    }
    /* One signal per wait, and only once the bytes it waits for are in: a 7 MHz 68000 cannot
     * afford a task switch per byte. */
    if (line.waiting && ((line.head - line.tail) & RING_MASK) >= line.wanted) {
        line.waiting = 0;
        Signal(line.task, line.signal);
    }
}

void vbl_interrupt(void *data)
{
    (void)data;
    if (line.ticks_left > 0 && --line.ticks_left == 0 && line.waiting) {
        line.waiting = 0;
        Signal(line.task, line.signal);
    }
}

static int32_t ticks_for(int32_t ms)
{
    return ms * frame_rate / 1000 + 1;
}

static int take(uint8_t *to, uint32_t count, uint32_t *got)
{
    /* Local copies: the volatile fields cost a 68000 dearly per byte. */
    uint16_t tail = line.tail, head = line.head;
    uint32_t n = *got;
    while (n < count && tail != head) {
        to[n++] = line.ring[tail];
        tail = (uint16_t)((tail + 1) & RING_MASK);
    }
    *got = n;
    line.tail = tail;
    if (line.rts_held && room() >= RING_SIZE / 2) {
        line.rts_held = 0;
        set_rts(1);
    }
    return *got == count;
}

static int serial_read(Transport *self, void *buffer, uint32_t count, int32_t timeout_ms)
{
    (void)self;
    uint32_t got = 0;
    line.ticks_left = timeout_ms == WAIT_FOREVER ? 0 : ticks_for(timeout_ms);
    for (;;) {
        if (take(buffer, count, &got))
            return IO_OK;
        if (timeout_ms != WAIT_FOREVER && line.ticks_left == 0)
            return IO_TIMEOUT;
        /* Signals are latched: one that comes between these lines ends the Wait at once. */
        uint32_t needed = count - got;
        line.wanted = (uint16_t)(needed < RING_LOW_WATER ? needed : RING_LOW_WATER);
        line.waiting = 1;
        if (((line.head - line.tail) & RING_MASK) >= line.wanted) {
            line.waiting = 0;
            continue;
        }
        uint32_t woken = Wait(line.signal | SIGBREAKF_CTRL_C);
        line.waiting = 0;
        if (woken & SIGBREAKF_CTRL_C)
            return IO_STOP;
    }
}

static int serial_write(Transport *self, const void *buffer, uint32_t count)
{
    (void)self;
    const uint8_t *p = buffer;
    for (uint32_t i = 0; i < count; ++i) {
        /* Nothing goes out while the PC holds CTS down; a stop ends the wait. */
        while (line.handshake && (*CIAB_PRA & CIA_CTS)) {
            if (SetSignal(0, 0) & SIGBREAKF_CTRL_C)
                return IO_STOP;
            Delay(1);
        }
        for (uint32_t spin = 0; !(CUSTOM[INTREQR] & (1u << INTB_TBE)) && spin < 200000; ++spin) {
        }
        CUSTOM[INTREQ] = 1u << INTB_TBE;
        CUSTOM[SERDAT] = (uint16_t)(0x100 | p[i]);
    }
    return IO_OK;
}

static void serial_discard(Transport *self)
{
    uint8_t scratch[64];
    /* Drops input until the line has been quiet for about a tenth of a second. */
    while (serial_read(self, scratch, 1, 100) == IO_OK) {
    }
}

/* serial.device keeps the port while it is loaded (after "Type SER:", say): remove it when
 * nobody has it open, which makes it give the port back. */
static const char *claim(uint32_t unit)
{
    const char *owner = AllocMiscResource(unit, "Drovemark");
    if (!owner)
        return 0;
    Forbid();
    struct Library *device = (struct Library *)FindName((char *)SysBase + EXEC_DEVICE_LIST,
                                                        "serial.device");
    if (device && device->lib_OpenCnt == 0)
        RemDevice(device);
    Permit();
    return AllocMiscResource(unit, "Drovemark");
}

const char *serial_open(uint32_t baud, int handshake)
{
    MiscBase = OpenResource("misc.resource");
    if (!MiscBase)
        return "misc.resource is missing";
    if (claim(MR_SERIALPORT))
        return "the serial port is in use by another program";
    owns_port = 1;
    if (claim(MR_SERIALBITS)) {
        serial_close();
        return "the serial port is in use by another program";
    }
    owns_bits = 1;
    signal_bit = AllocSignal(-1);
    if (signal_bit < 0) {
        serial_close();
        return "no free signal";
    }
    frame_rate = *((uint8_t *)SysBase + EXEC_VBLANK_FREQUENCY) == 60 ? 60 : 50;
    line.task = FindTask(0);
    line.signal = 1UL << signal_bit;
    line.handshake = (uint8_t)(handshake != 0);
    uint32_t clock = frame_rate == 60 ? 3579545UL : 3546895UL;
    CUSTOM[SERPER] = (uint16_t)((clock + baud / 2) / baud - 1); /* 8 data bits */
    if (line.handshake) {
        *CIAB_DDRA |= CIA_RTS;
        *CIAB_DDRA &= (uint8_t)~CIA_CTS;
        set_rts(1);
    }

    rbf.is_Node.ln_Type = NT_INTERRUPT;
    rbf.is_Node.ln_Name = "Drovemark serial";
    rbf.is_Code = rbf_entry;
    vbl.is_Node.ln_Type = NT_INTERRUPT;
    vbl.is_Node.ln_Name = "Drovemark timer";
    vbl.is_Code = vbl_entry;
    AddIntServer(INTB_VERTB, &vbl);
    CUSTOM[INTENA] = 1u << INTB_RBF;
    CUSTOM[INTREQ] = 1u << INTB_RBF;
    previous_rbf = SetIntVector(INTB_RBF, &rbf);
    CUSTOM[INTENA] = SET | (1u << INTB_RBF);

    transport.read = serial_read;
    transport.write = serial_write;
    transport.discard = serial_discard;
    transport.bytes_per_second = baud / 10;
    /* The CRC of 16 bytes takes a 68000 about as long as one byte takes on the line. */
    transport.write_piece = 16;
    return 0;
}

void serial_close(void)
{
    if (rbf.is_Code) {
        CUSTOM[INTENA] = 1u << INTB_RBF;
        SetIntVector(INTB_RBF, previous_rbf);
        RemIntServer(INTB_VERTB, &vbl);
        rbf.is_Code = 0;
    }
    if (line.handshake)
        set_rts(0);
    if (signal_bit >= 0)
        FreeSignal(signal_bit);
    signal_bit = -1;
    if (owns_bits)
        FreeMiscResource(MR_SERIALBITS);
    if (owns_port)
        FreeMiscResource(MR_SERIALPORT);
    owns_bits = owns_port = 0;
}

uint32_t serial_arm(void)
{
    line.ticks_left = 0;
    line.wanted = 1; /* any byte is a request beginning */
    line.waiting = 1;
    if (line.tail != line.head) {
        line.waiting = 0;
        return 0;
    }
    return line.signal;
}

void serial_disarm(void)
{
    line.waiting = 0;
}

Transport *serial_transport(void)
{
    return &transport;
}

uint32_t serial_overruns(void)
{
    return line.overruns;
}
