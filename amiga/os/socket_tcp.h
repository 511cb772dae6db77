/* The TCP/IP line: one connection at a time on a listening port, through the running stack's
 * bsdsocket.library. */
#ifndef DM_SOCKET_TCP_H
#define DM_SOCKET_TCP_H

#include "../server/transport.h"

/* File data packets on TCP/IP: a line this fast is limited by round trips, not bytes. */
#define TCP_PACKET_BUFFER 8192

enum { TCP_LISTENING = 0, TCP_NO_STACK = 1, TCP_FAILED = 2 };

/* Opens the library and listens on `port`. */
int tcp_open(uint16_t port);
void tcp_close(void);
Transport *tcp_transport(void);

/* Waits for `signals` or for the socket side: a connection to take (taken here) or a request
 * on the one being served. Returns the signals that came. */
uint32_t tcp_wait(uint32_t signals);
/* After tcp_wait: a new connection was taken. */
int tcp_connected_anew(void);
/* After tcp_wait: the connection has bytes to read. */
int tcp_has_input(void);
/* The PC went away: the connection is closed and the port listens again. */
int tcp_hang_up_if_dropped(void);

#endif
