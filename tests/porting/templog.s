;***************************************************************
; EE 3170 Microprocessor Systems                      Lab 7
; Temperature logger for the 68HC912B32 evaluation board
;
; templog.asm translated line by line for GNU as: labels take a
; colon, equates are "=", data and space use .byte, .word, .ascii
; and .skip, the three "org" areas are sections that the linker
; script templog.ld places, and a direct-page operand is written
; "*name". The backquote labels of a "loc" scope become
; <subroutine>_<name>; the start address given on "end" is the
; entry symbol.
;
;   m68hc11-as -m68hc12 -o templog.o templog.s
;   m68hc11-ld -m m68hc12elf -T templog.ld -o templog.elf templog.o
;   m68hc11-objcopy -O srec templog.elf templog.s19
;***************************************************************

;***************************************************************
; 68HC912B32 register block (INITRG = $00, registers at $0000)
;***************************************************************
PORTA = 0x0000  ; port A data
PORTB = 0x0001  ; port B data (LEDs)
DDRA = 0x0002  ; port A direction
DDRB = 0x0003  ; port B direction
PORTE = 0x0008  ; port E data
DDRE = 0x0009  ; port E direction
PEAR = 0x000A  ; port E assignment
MODE = 0x000B  ; mode register
PUCR = 0x000C  ; pull-up control
RDRIV = 0x000D  ; reduced drive
INITRM = 0x0010  ; RAM position
INITRG = 0x0011  ; register position
INITEE = 0x0012  ; EEPROM position
MISC = 0x0013  ; miscellaneous mapping
RTICTL = 0x0014  ; real-time interrupt control
RTIFLG = 0x0015  ; real-time interrupt flag
COPCTL = 0x0016  ; watchdog control
COPRST = 0x0017  ; watchdog reset
INTCR = 0x001E  ; interrupt control
HPRIO = 0x001F  ; highest priority interrupt
PWCLK = 0x0040  ; PWM clocks and concatenate
PWPOL = 0x0041  ; PWM clock select and polarity
PWEN = 0x0042  ; PWM enable
PWPRES = 0x0043  ; PWM prescale counter
PWSCAL0 = 0x0044  ; PWM scale register 0
PWCNT0 = 0x0048  ; PWM channel counters
PWPER0 = 0x004C  ; PWM channel periods
PWDTY0 = 0x0050  ; PWM channel duties
PWCTL = 0x0054  ; PWM control
PORTP = 0x0056  ; port P data (switches)
DDRP = 0x0057  ; port P direction
ATDCTL2 = 0x0062  ; ATD control 2
ATDCTL3 = 0x0063  ; ATD control 3
ATDCTL4 = 0x0064  ; ATD control 4
ATDCTL5 = 0x0065  ; ATD control 5
ATDSTAT = 0x0066  ; ATD status (2 bytes)
PORTAD = 0x006F  ; port AD data input
ADR0H = 0x0070  ; ATD result 0
ADR1H = 0x0072  ; ATD result 1
ADR2H = 0x0074  ; ATD result 2
ADR3H = 0x0076  ; ATD result 3
TIOS = 0x0080  ; timer input capture/output compare select
CFORC = 0x0081  ; timer compare force
OC7M = 0x0082  ; output compare 7 mask
OC7D = 0x0083  ; output compare 7 data
TCNT = 0x0084  ; timer counter (2 bytes)
TSCR = 0x0086  ; timer system control
TQCR = 0x0087  ; reserved
TCTL1 = 0x0088  ; timer control 1
TCTL2 = 0x0089  ; timer control 2
TCTL3 = 0x008A  ; timer control 3
TCTL4 = 0x008B  ; timer control 4
TMSK1 = 0x008C  ; timer interrupt mask 1
TMSK2 = 0x008D  ; timer interrupt mask 2
TFLG1 = 0x008E  ; timer flags 1
TFLG2 = 0x008F  ; timer flags 2
TC0 = 0x0090  ; timer channel 0 (2 bytes)
TC7 = 0x009E  ; timer channel 7 (2 bytes)
PACTL = 0x00A0  ; pulse accumulator control
PAFLG = 0x00A1  ; pulse accumulator flags
PACNT = 0x00A2  ; pulse accumulator count
PORTT = 0x00AE  ; timer port data
DDRT = 0x00AF  ; timer port direction
SC0BDH = 0x00C0  ; SCI 0 baud rate high
SC0BDL = 0x00C1  ; SCI 0 baud rate low
SC0CR1 = 0x00C2  ; SCI 0 control 1
SC0CR2 = 0x00C3  ; SCI 0 control 2
SC0SR1 = 0x00C4  ; SCI 0 status 1
SC0SR2 = 0x00C5  ; SCI 0 status 2
SC0DRH = 0x00C6  ; SCI 0 data high
SC0DRL = 0x00C7  ; SCI 0 data low
SP0CR1 = 0x00D0  ; SPI control 1
SP0CR2 = 0x00D1  ; SPI control 2
SP0BR = 0x00D2  ; SPI baud rate
SP0SR = 0x00D3  ; SPI status
SP0DR = 0x00D5  ; SPI data
PORTS = 0x00D6  ; port S data
DDRS = 0x00D7  ; port S direction
EEPROT = 0x00F1  ; EEPROM block protect
EEPROG = 0x00F3  ; EEPROM control
FEELCK = 0x00F4  ; flash lock control
FEECTL = 0x00F7  ; flash control

; bits
TDRE = 0b10000000  ; SC0SR1: transmit data register empty
RDRF = 0b00100000  ; SC0SR1: receive data register full
TE = 0b00001000  ; SC0CR2: transmitter enable
RE = 0b00000100  ; SC0CR2: receiver enable
TEN = 0b10000000  ; TSCR: timer enable
TFFCA = 0b00010000  ; TSCR: fast flag clear
C7F = 0b10000000  ; TFLG1: channel 7 flag
C7I = 0b10000000  ; TMSK1: channel 7 interrupt
TCRE = 0b00001000  ; TMSK2: reset counter on channel 7
ADPU = 0b10000000  ; ATDCTL2: power up
SCF = 0b10000000  ; ATDSTAT: sequence complete
UNITF = 0b00000001  ; PORTP: switch 0 selects Fahrenheit
RTIF = 0b10000000  ; RTIFLG: real-time interrupt flag

;***************************************************************
; constants
;***************************************************************
EOS = 0  ; end of string
BS = 0x08
LF = 0x0A
CR = 0x0D
ESC = 0x1B
DEL = 0x7F
BAUD = 52  ; 8 MHz E clock / (16 * 9600)
TICK = 62500  ; timer clocks per sample (1/16 s at 1 MHz)
NSAMP = 16  ; samples kept (a power of two)
LINELEN = 31  ; longest command line
RAMTOP = 0x0C00  ; stack starts at the top of RAM
ROWLEN = 16  ; bytes per dump row

;***************************************************************
; variables in on-chip RAM
;***************************************************************
	.section .bss
ticks:  .skip   2               ; timer interrupts since reset
seconds: .skip   1
minutes: .skip   1
head:   .skip   1               ; next sample slot
count:  .skip   1               ; samples stored so far
samples: .skip   NSAMP          ; ring of raw readings
sorted: .skip   NSAMP           ; copy for the median
sum:    .skip   2
avg:    .skip   1
minv:   .skip   1
maxv:   .skip   1
median: .skip   1
crc:    .skip   1
flags:  .skip   1               ; bit 0: new sample, bit 1: echo off
dumpadr: .skip   2              ; next address of the dump command
numbuf: .skip   6               ; decimal digits, zero-terminated
line:   .skip   LINELEN+1       ; command line being typed
linep:  .skip   2               ; parse position in line

NEWSAMP = 0b00000001
NOECHO = 0b00000010

;***************************************************************
; program in flash
;***************************************************************
	.text
	.globl  start
start:  lds     #RAMTOP
        clr     COPCTL          ; no watchdog while we debug
        jsr     initio
        jsr     inittmr
        ldx     #banner
        jsr     puts
        cli                     ; timer interrupts on

; main loop: prompt, read a command line, run it
main:   ldx     #prompt
        jsr     puts
        jsr     getline
        jsr     crlf
        jsr     dispatch
        bra     main

;***************************************************************
; initio - ports, SCI 0 and the A/D converter
;***************************************************************
initio:
        movb    #0xFF,DDRB      ; LEDs are outputs
        clr     PORTB
        clr     DDRP            ; switches are inputs
        bset    *PUCR,#0b10000000 ; pull-ups on port P
        movw    #BAUD,SC0BDH
        clr     SC0CR1
        movb    #TE|RE,SC0CR2
        movb    #ADPU,ATDCTL2   ; power up the converter
        ldaa    #100            ; it needs 100 us to settle
initio_wait: dbne    a,initio_wait
        movb    #0x01,ATDCTL4   ; 2 MHz ATD clock, 8-bit, 2 clocks
        clr     head
        clr     count
        clr     flags
        movw    #0x8000,dumpadr
        rts

;***************************************************************
; inittmr - channel 7 compares every TICK clocks and resets TCNT
;***************************************************************
inittmr:
        movb    #0x03,TMSK2     ; prescaler 8: 1 MHz
        bset    *TMSK2,#TCRE
        bset    *TIOS,#C7F      ; channel 7 compares
        movw    #TICK,TC7
        movb    #C7F,TFLG1      ; clear a stale flag
        bset    *TMSK1,#C7I
        movb    #TEN|TFFCA,TSCR
        movw    #0,ticks
        clr     seconds
        clr     minutes
        rts

;***************************************************************
; tc7isr - one sample per tick; seconds and minutes every 16
;***************************************************************
tc7isr:
        movb    #C7F,TFLG1
        movb    #0x80,ATDCTL5   ; one conversion of AN0
tc7isr_wait: brclr   *ATDSTAT,#SCF,tc7isr_wait
        ldab    head
        ldx     #samples
        ldaa    *ADR0H
        staa    b,x
        incb
        andb    #NSAMP-1
        stab    head
        ldaa    count
        cmpa    #NSAMP
        bhs     tc7isr_full
        inc     count
tc7isr_full: bset    flags,#NEWSAMP
        ldx     ticks
        inx
        stx     ticks
        tfr     x,d
        andb    #0x0F
        bne     tc7isr_done
        inc     seconds
        ldaa    seconds
        cmpa    #60
        blo     tc7isr_done
        clr     seconds
        inc     minutes
tc7isr_done: rti

;***************************************************************
; badint - any interrupt we do not expect stops in the monitor
;***************************************************************
badint:
        bgnd
        rti

;***************************************************************
; putc - send A on SCI 0
;***************************************************************
putc:
putc_wait: brclr   *SC0SR1,#TDRE,putc_wait
        staa    *SC0DRL
        rts

;***************************************************************
; getc - wait for a character from SCI 0, return it in A
;***************************************************************
getc:
getc_wait: brclr   *SC0SR1,#RDRF,getc_wait
        ldaa    *SC0DRL
        rts

;***************************************************************
; puts - send the zero-terminated text at X; X ends after it
;***************************************************************
puts:
puts_next: ldaa    1,x+
        beq     puts_done
        bsr     putc
        bra     puts_next
puts_done: rts

;***************************************************************
; crlf - start a new line on the terminal
;***************************************************************
crlf:
        psha
        ldaa    #CR
        bsr     putc
        ldaa    #LF
        bsr     putc
        pula
        rts

;***************************************************************
; putnib - send the low four bits of A as a hex digit
;***************************************************************
putnib:
        pshx
        anda    #0x0F
        ldx     #hexdig
        ldaa    a,x
        bsr     putc
        pulx
        rts

;***************************************************************
; out2hex - send A as two hex digits
;***************************************************************
out2hex:
        psha
        lsra
        lsra
        lsra
        lsra
        bsr     putnib
        pula
        psha
        bsr     putnib
        pula
        rts

;***************************************************************
; out4hex - send D as four hex digits
;***************************************************************
out4hex:
        pshb
        bsr     out2hex
        pula
        bsr     out2hex
        rts

;***************************************************************
; outdec - send D as an unsigned decimal number, no leading zeros
;***************************************************************
outdec:
        pshx
        pshy
        ldy     #numbuf+5
        clr     0,y             ; the digits are stored backwards
outdec_next: ldx     #10
        idiv                    ; X = D / 10, D = remainder
        addb    #'0'
        stab    1,-y
        tfr     x,d
        tbeq    d,outdec_show
        bra     outdec_next
outdec_show: tfr     y,x
        jsr     puts
        puly
        pulx
        rts

;***************************************************************
; space - send one blank
;***************************************************************
space:
        psha
        ldaa    #' '
        jsr     putc
        pula
        rts

;***************************************************************
; getline - read a line into "line", echo it, handle backspace
; returns the length in B; the line ends in zero
;***************************************************************
getline:
        ldx     #line
        clrb
getline_next: jsr     getc
        cmpa    #CR
        beq     getline_done
        cmpa    #BS
        beq     getline_back
        cmpa    #DEL
        beq     getline_back
        cmpa    #' '
        blo     getline_next    ; other control characters are ignored
        cmpb    #LINELEN
        bhs     getline_next    ; no room: ignored too
        staa    b,x
        incb
        brset   flags,#NOECHO,getline_next
        jsr     putc
        bra     getline_next
getline_back: tstb
        beq     getline_next
        decb
        ldaa    #BS
        jsr     putc
        ldaa    #' '
        jsr     putc
        ldaa    #BS
        jsr     putc
        bra     getline_next
getline_done: clr     b,x
        movw    #line,linep
        rts

;***************************************************************
; skipsp - move linep past blanks; A = the next character
;***************************************************************
skipsp:
        ldx     linep
skipsp_next: ldaa    0,x
        cmpa    #' '
        bne     skipsp_done
        inx
        bra     skipsp_next
skipsp_done: stx     linep
        rts

;***************************************************************
; hexval - convert the character in A to its value
; carry set when A is no hex digit
;***************************************************************
hexval:
        cmpa    #'0'
        blo     hexval_bad
        cmpa    #'9'
        bls     hexval_digit
        anda    #0b11011111     ; lower case to upper case
        cmpa    #'A'
        blo     hexval_bad
        cmpa    #'F'
        bhi     hexval_bad
        suba    #'A'-10
        clc
        rts
hexval_digit: suba    #'0'
        clc
        rts
hexval_bad: sec
        rts

;***************************************************************
; gethex - read a hex number of 1..4 digits at linep into D
; carry set when there is none
;***************************************************************
gethex:
        jsr     skipsp
        ldy     #0
        ldx     linep
        ldaa    0,x
        jsr     hexval
        bcs     gethex_none
gethex_next: ldaa    0,x
        jsr     hexval
        bcs     gethex_done
        inx
        exg     y,d             ; value * 16 + digit
        lsld
        lsld
        lsld
        lsld
        exg     d,y
        tfr     a,b
        clra
        leay    d,y
        bra     gethex_next
gethex_done: stx     linep
        tfr     y,d
        clc
        rts
gethex_none: sec
        rts

;***************************************************************
; dispatch - find the command letter in cmdtab and call it
;***************************************************************
dispatch:
        movw    #line,linep
        jsr     skipsp
        tsta
        beq     dispatch_empty
        anda    #0b11011111     ; commands in either case
        ldx     #cmdtab
dispatch_next: ldab    0,x
        beq     dispatch_unknown
        cba
        beq     dispatch_found
        leax    3,x
        bra     dispatch_next
dispatch_found: ldy     linep
        iny                     ; past the command letter
        sty     linep
        ldx     1,x
        jsr     0,x
dispatch_empty: rts
dispatch_unknown: ldx     #what
        jsr     puts
        rts

;***************************************************************
; command H - the help text
;***************************************************************
cmdhelp:
        ldx     #helptxt
        jsr     puts
        rts

;***************************************************************
; command S - print the stored samples, newest last
;***************************************************************
cmdshow:
        sei                     ; a consistent copy of head and count
        ldaa    count
        ldab    head
        cli
        tsta
        beq     cmdshow_none
        psha
        subb    0,sp            ; first = head - count
        andb    #NSAMP-1
        pula
        ldx     #samples
cmdshow_next: psha
        ldaa    b,x
        jsr     out2hex
        jsr     space
        incb
        andb    #NSAMP-1
        pula
        dbne    a,cmdshow_next
        jmp     crlf
cmdshow_none: ldx     #nodata
        jmp     puts

;***************************************************************
; stats - sum, average, minimum and maximum of the samples
;***************************************************************
stats:
        ldx     #samples
        ldab    count
        beq     stats_empty
        ldy     #0
        movb    #0xFF,minv
        clr     maxv
stats_next: ldaa    1,x+
        cmpa    minv
        bhs     stats_notmin
        staa    minv
stats_notmin: cmpa    maxv
        bls     stats_notmax
        staa    maxv
stats_notmax: pshb
        tfr     a,b
        clra
        leay    d,y
        pulb
        dbne    b,stats_next
        sty     sum
        tfr     y,d
        ldab    count
        clra
        tfr     d,x
        tfr     y,d
        idiv
        tfr     x,d
        stab    avg
        clc
        rts
stats_empty: sec
        rts

;***************************************************************
; sortsmp - copy the samples and sort the copy (bubble sort)
;***************************************************************
sortsmp:
        ldx     #samples
        ldy     #sorted
        ldab    #NSAMP
sortsmp_copy: movb    1,x+,1,y+
        dbne    b,sortsmp_copy
        ldab    count
        decb                    ; count-1 passes at most
        ble     sortsmp_done
sortsmp_pass: pshb              ; passes left, compares in this one
        clr     1,-sp           ; nothing swapped yet
        ldx     #sorted
sortsmp_inner: ldaa    0,x
        cmpa    1,x
        bls     sortsmp_inord
        psha                    ; swap the pair
        ldaa    1,x
        staa    0,x
        pula
        staa    1,x
        inc     0,sp
sortsmp_inord: inx
        dbne    b,sortsmp_inner
        tst     1,sp+           ; sorted when nothing was swapped
        pulb
        beq     sortsmp_done
        dbne    b,sortsmp_pass
sortsmp_done: rts

;***************************************************************
; command A - statistics and the median
;***************************************************************
cmdavg:
        jsr     stats
        bcs     cmdavg_none
        jsr     sortsmp
        ldab    count
        lsrb
        ldx     #sorted
        movb    b,x,median
        ldx     #t_avg
        ldaa    avg
        bsr     cmdavg_item
        ldx     #t_min
        ldaa    minv
        bsr     cmdavg_item
        ldx     #t_max
        ldaa    maxv
        bsr     cmdavg_item
        ldx     #t_med
        ldaa    median
        bsr     cmdavg_item
        ldx     #t_sum
        jsr     puts
        ldd     sum
        jsr     outdec
        jmp     crlf
cmdavg_none: ldx     #nodata
        jmp     puts
; one line: the text at X, A in hex and in degrees
cmdavg_item: psha
        jsr     puts
        pula
        psha
        jsr     out2hex
        jsr     space
        pula
        jsr     degrees
        jsr     outdec
        ldx     #t_deg
        jsr     puts
        rts

;***************************************************************
; degrees - convert the reading in A to degrees in D
; Celsius by table interpolation; Fahrenheit when switch 0 is on
;***************************************************************
degrees:
        tfr     a,b
        lsra                    ; 16 readings per table step
        lsra
        lsra
        lsra
        andb    #0x0F
        lslb                    ; fraction in 1/256 for tbl
        lslb
        lslb
        lslb
        ldx     #celsius
        tbl     a,x             ; A = entry + (next-entry)*B/256
        tfr     a,b
        clra
        brclr   *PORTP,#UNITF,degrees_done
        ldy     #9              ; F = C * 9 / 5 + 32
        emul
        ldx     #5
        idiv
        tfr     x,d
        addd    #32
degrees_done: rts

;***************************************************************
; command B - a bar graph of the samples, one row each
;***************************************************************
cmdbar:
        ldab    count
        beq     cmdbar_none
        ldx     #samples
cmdbar_row: pshb
        ldab    1,x+
        lsrb                    ; 0..255 becomes 0..31 stars
        lsrb
        lsrb
        pshx
        ldaa    #'|'
        jsr     putc
        tstb
        beq     cmdbar_end
cmdbar_star: ldaa    #'*'
        jsr     putc
        dbne    b,cmdbar_star
cmdbar_end: jsr     crlf
        pulx
        pulb
        dbne    b,cmdbar_row
        rts
cmdbar_none: ldx     #nodata
        jmp     puts

;***************************************************************
; command D [addr] - dump 4 rows of memory, hex and text
;***************************************************************
cmddump:
        jsr     gethex
        bcs     cmddump_old
        std     dumpadr
cmddump_old: ldx     dumpadr
        ldab    #4
cmddump_row: pshb
        tfr     x,d
        jsr     out4hex
        ldaa    #':'
        jsr     putc
        ldab    #ROWLEN
cmddump_hex: jsr     space
        ldaa    1,x+
        jsr     out2hex
        dbne    b,cmddump_hex
        jsr     space
        leax    -ROWLEN,x
        ldab    #ROWLEN
cmddump_text: ldaa    1,x+
        cmpa    #' '
        blo     cmddump_dot
        cmpa    #'~'
        bls     cmddump_show
cmddump_dot: ldaa    #'.'
cmddump_show: jsr     putc
        dbne    b,cmddump_text
        jsr     crlf
        pulb
        dbne    b,cmddump_row
        stx     dumpadr
        rts

;***************************************************************
; command C - CRC-8 (polynomial $07) of the stored samples
;***************************************************************
cmdcrc:
        ldx     #samples
        ldab    count
        clra
        tstb
        beq     cmdcrc_show
cmdcrc_byte: eora    1,x+
        ldy     #8
cmdcrc_bit: lsla
        bcc     cmdcrc_next
        eora    #0x07
cmdcrc_next: dbne    y,cmdcrc_bit
        dbne    b,cmdcrc_byte
cmdcrc_show: staa    crc
        ldx     #t_crc
        jsr     puts
        ldaa    crc
        jsr     out2hex
        jmp     crlf

;***************************************************************
; command L n - LED pattern n (0..7) from the pattern table
;***************************************************************
cmdled:
        jsr     gethex
        bcs     cmdled_bad
        cpd     #NPATT
        bhs     cmdled_bad
        ldx     #pattern
        ldaa    b,x
        staa    *PORTB
        bset    *PORTB,#0b00000001 ; the power LED stays on
        rts
cmdled_bad: ldx     #what
        jmp     puts

;***************************************************************
; command T - time since reset as mm:ss
;***************************************************************
cmdtime:
        ldx     #t_time
        jsr     puts
        ldab    minutes
        bsr     cmdtime_two
        ldaa    #':'
        jsr     putc
        ldab    seconds
        bsr     cmdtime_two
        jmp     crlf
; two decimal digits of B
cmdtime_two: clra
        ldx     #10
        idiv
        pshb
        tfr     x,d
        tba
        adda    #'0'
        jsr     putc
        pula
        adda    #'0'
        jmp     putc

;***************************************************************
; command E - echo on or off
;***************************************************************
cmdecho:
        ldaa    flags
        eora    #NOECHO
        staa    flags
        ldx     #t_echon
        bita    #NOECHO
        beq     cmdecho_show
        ldx     #t_echoff
cmdecho_show: jmp     puts

;***************************************************************
; command Z - forget the samples
;***************************************************************
cmdzero:
        sei
        clr     head
        clr     count
        bclr    flags,#NEWSAMP
        cli
        ldx     #samples
        ldab    #NSAMP
cmdzero_clear: clr     1,x+
        dbne    b,cmdzero_clear
        ldx     #t_clear
        jmp     puts

;***************************************************************
; command M op a b - arithmetic on two hex numbers
; op is one of + - * / %, the result is shown in hex and decimal
;***************************************************************
cmdmath:
        jsr     skipsp
        ldx     #opchars
        clrb
cmdmath_find: tst     b,x
        lbeq    cmdmath_bad     ; long: the handlers lie in between
        cmpa    b,x
        beq     cmdmath_got
        incb
        bra     cmdmath_find
cmdmath_got: ldy     linep
        iny
        sty     linep
        pshb                    ; operator number
        jsr     gethex
        bcs     cmdmath_bad2
        pshd                    ; first operand
        jsr     gethex
        bcs     cmdmath_bad4
        tfr     d,y             ; second operand in Y
        puld
        pulb                    ; the operator again
        pshd                    ; first operand
        clra
        lsld                    ; two bytes per handler
        ldx     #optab
        jsr     [d,x]           ; D = result
        leas    2,sp
        pshd
        ldaa    #'=
        jsr     putc
        ldd     0,sp
        jsr     out4hex
        jsr     space
        puld
        jsr     outdec
        jmp     crlf
cmdmath_bad4: leas    2,sp
cmdmath_bad2: leas    1,sp
cmdmath_bad: ldx     #what
        jmp     puts

; the handlers: first operand at 2,sp, second in Y, result in D
opadd:  ldd     2,sp
        sty     2,-sp
        addd    2,sp+
        rts
opsub:  ldd     2,sp
        sty     2,-sp
        subd    2,sp+
        rts
opmul:  ldd     2,sp
        emul                    ; Y:D = D * Y, the low word is kept
        rts
opdiv:  tfr     y,x
        ldd     2,sp
        cpx     #0
        beq     cmdmath_zero
        idiv
        tfr     x,d
        rts
opmod:  tfr     y,x
        ldd     2,sp
        cpx     #0
        beq     cmdmath_zero
        idiv                    ; the remainder is in D already
        rts
cmdmath_zero: ldd     #0xFFFF   ; division by zero: all ones
        rts

; fraction A/B in 1/65536, used to scale the bar graph: D = A/B
ratio:
        tfr     a,x
        exg     b,d             ; D = B, X = A
        exg     d,x
        cpx     #0
        beq     ratio_one
        pshx
        cpd     0,sp
        pulx
        bhs     ratio_one
        fdiv                    ; X = D / X as a fraction
        tfr     x,d
        rts
ratio_one: ldd     #0xFFFF
        rts

; signed average of two words at X: D = (a + b) / 2
meanw:
        ldd     0,x
        addd    2,x
        bvc     meanw_fine
        ldy     #0xFFFF         ; overflow: the sign was lost
        bra     meanw_half
meanw_fine: ldy     #0
        tsta
        bpl     meanw_half
        dey                     ; sign extend into Y
meanw_half: ldx     #2
        edivs                   ; Y = Y:D / X
        tfr     y,d
        rts

; clear the LEDs given in a mask table at X (zero ends it)
ledsoff:
ledsoff_next:
        ldaa    1,x+
        beq     ledsoff_done
        coma
        anda    *PORTB
        staa    *PORTB
        brset   0,x,#0xFF,ledsoff_done ; a table of all ones ends it too
        bra     ledsoff_next
ledsoff_done: bclr    0,x,#0x80
        rts

; count the set bits of A into B
bits:
        clrb
        tsta
        beq     bits_done
bits_next: lsra
        adcb    #0
        tbne    a,bits_next
bits_done: rts

; widen the signed byte in B to D and add it to the word at X
addsb:
        sex     b,d
        addd    0,x
        std     0,x
        ibne    d,addsb_done
        inc     flags           ; the word wrapped to zero
addsb_done: rts

;***************************************************************
; tables
;***************************************************************
; command letter, handler
cmdtab: .byte   'H'
        .word   cmdhelp
        .byte   '?'
        .word   cmdhelp
        .byte   'S'
        .word   cmdshow
        .byte   'A'
        .word   cmdavg
        .byte   'B'
        .word   cmdbar
        .byte   'D'
        .word   cmddump
        .byte   'C'
        .word   cmdcrc
        .byte   'L'
        .word   cmdled
        .byte   'T'
        .word   cmdtime
        .byte   'E'
        .word   cmdecho
        .byte   'Z'
        .word   cmdzero
        .byte   'M'
        .word   cmdmath
        .byte   EOS

; operators of command M and their handlers, in the same order
opchars: .ascii  "+-*/%"
        .byte   EOS
optab:  .word   opadd,opsub,opmul,opdiv,opmod

; degrees Celsius for the readings 0, 16, 32, ... 256 (LM35 behind
; a gain of 2.55 with 5 V full scale)
celsius: .byte   0,6,12,18,25,31,37,43
        .byte   50,56,62,68,75,81,87,93,100

; LED patterns for command L
pattern: .byte   0b00000000,0b00000001,0b00000011,0b00000111
        .byte   0b00001111,0b00011111,0b00111111,0b11111111
NPATT = .-pattern

hexdig: .ascii  "0123456789ABCDEF"

;***************************************************************
; texts
;***************************************************************
banner: .byte   CR,LF
        .ascii  "EE 3170 Lab 7 - temperature logger"
        .byte   CR,LF
        .ascii  "type H for help"
        .byte   CR,LF,EOS
prompt: .ascii  "lab7> "
        .byte   EOS
what:   .ascii  "what?"
        .byte   CR,LF,EOS
nodata: .ascii  "no samples yet"
        .byte   CR,LF,EOS
helptxt: .ascii  "H, ?    this help"
        .byte   CR,LF
        .ascii  "S       show the samples"
        .byte   CR,LF
        .ascii  "A       average, minimum, maximum, median"
        .byte   CR,LF
        .ascii  "B       bar graph"
        .byte   CR,LF
        .ascii  "D [adr] dump memory"
        .byte   CR,LF
        .ascii  "C       CRC-8 of the samples"
        .byte   CR,LF
        .ascii  "L n     LED pattern n (0-7)"
        .byte   CR,LF
        .ascii  "T       time since reset"
        .byte   CR,LF
        .ascii  "E       echo on/off"
        .byte   CR,LF
        .ascii  "Z       forget the samples"
        .byte   CR,LF
        .ascii  "M o a b arithmetic, o is one of + - * / %"
        .byte   CR,LF,EOS
t_avg:  .ascii  "average "
        .byte   EOS
t_min:  .ascii  "minimum "
        .byte   EOS
t_max:  .ascii  "maximum "
        .byte   EOS
t_med:  .ascii  "median  "
        .byte   EOS
t_sum:  .ascii  "sum     "
        .byte   EOS
t_deg:  .ascii  " deg"
        .byte   CR,LF,EOS
t_crc:  .ascii  "CRC-8 "
        .byte   EOS
t_time: .ascii  "up "
        .byte   EOS
t_echon: .ascii  "echo on"
        .byte   CR,LF,EOS
t_echoff: .ascii  "echo off"
        .byte   CR,LF,EOS
t_clear: .ascii  "samples cleared"
        .byte   CR,LF,EOS
progend = .

;***************************************************************
; interrupt vectors $FFE0..$FFFF
;***************************************************************
	.section .vectors,"a"
        .word   tc7isr          ; $FFE0 timer channel 7
        .word   badint          ; $FFE2 timer channel 6
        .word   badint          ; $FFE4 timer channel 5
        .word   badint          ; $FFE6 timer channel 4
        .word   badint          ; $FFE8 timer channel 3
        .word   badint          ; $FFEA timer channel 2
        .word   badint          ; $FFEC timer channel 1
        .word   badint          ; $FFEE timer channel 0
        .word   badint          ; $FFF0 real-time interrupt
        .word   badint          ; $FFF2 IRQ
        .word   badint          ; $FFF4 XIRQ
        .word   badint          ; $FFF6 SWI
        .word   badint          ; $FFF8 illegal opcode
        .word   start           ; $FFFA watchdog failure
        .word   start           ; $FFFC clock monitor failure
        .word   start           ; $FFFE reset
