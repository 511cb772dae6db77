/* The serial port, driven on Paula's UART directly: the same code on every Kickstart, whether
 * or not the ROM has serial.device. */
#ifndef DM_SERIAL_PAULA_H
#define DM_SERIAL_PAULA_H

#include "../server/transport.h"

/* Claims the port from the system and starts receiving. 0 on success, else a message. */
const char *serial_open(uint32_t baud, int handshake);
void serial_close(void);
Transport *serial_transport(void);
/* For a wait on more than the port: the signal the next received byte sends, or 0 when input
 * is waiting already. serial_disarm after the wait. */
uint32_t serial_arm(void);
void serial_disarm(void);
/* Bytes lost because the ring was full. */
uint32_t serial_overruns(void);

#endif
