****************************************************************
* EE 3170 Microprocessor Systems                      Lab 7
* Temperature logger for the 68HC912B32 evaluation board
*
* The LM35 sensor on AN0 is sampled 16 times a second by the
* timer (channel 7, output compare). A small menu on SCI0
* (9600 baud, 8N1) prints the samples, their statistics, a
* bar graph and a memory dump. The LEDs on port B show the
* temperature range, the switches on port P select the unit.
*
* Written for the as12 style: every subroutine starts a new
* "loc" scope, so its branch targets end in a backquote.
*
* Assemble:  as12 -L templog.asm       (or qorb12 -l templog.asm)
* Load the S19 into flash with the board's monitor; it starts
* from the reset vector or with "G 8000".
****************************************************************

****************************************************************
* 68HC912B32 register block (INITRG = $00, registers at $0000)
****************************************************************
PORTA   equ     $0000           ; port A data
PORTB   equ     $0001           ; port B data (LEDs)
DDRA    equ     $0002           ; port A direction
DDRB    equ     $0003           ; port B direction
PORTE   equ     $0008           ; port E data
DDRE    equ     $0009           ; port E direction
PEAR    equ     $000A           ; port E assignment
MODE    equ     $000B           ; mode register
PUCR    equ     $000C           ; pull-up control
RDRIV   equ     $000D           ; reduced drive
INITRM  equ     $0010           ; RAM position
INITRG  equ     $0011           ; register position
INITEE  equ     $0012           ; EEPROM position
MISC    equ     $0013           ; miscellaneous mapping
RTICTL: equ     $0014           ; real-time interrupt control
RTIFLG: equ     $0015           ; real-time interrupt flag
COPCTL: equ     $0016           ; watchdog control
COPRST  equ     $0017           ; watchdog reset
INTCR   equ     $001E           ; interrupt control
HPRIO   equ     $001F           ; highest priority interrupt
PWCLK   equ     $0040           ; PWM clocks and concatenate
PWPOL   equ     $0041           ; PWM clock select and polarity
PWEN    equ     $0042           ; PWM enable
PWPRES  equ     $0043           ; PWM prescale counter
PWSCAL0 equ     $0044           ; PWM scale register 0
PWCNT0  equ     $0048           ; PWM channel counters
PWPER0  equ     $004C           ; PWM channel periods
PWDTY0  equ     $0050           ; PWM channel duties
PWCTL   equ     $0054           ; PWM control
PORTP   equ     $0056           ; port P data (switches)
DDRP    equ     $0057           ; port P direction
ATDCTL2 equ     $0062           ; ATD control 2
ATDCTL3 equ     $0063           ; ATD control 3
ATDCTL4 equ     $0064           ; ATD control 4
ATDCTL5 equ     $0065           ; ATD control 5
ATDSTAT equ     $0066           ; ATD status (2 bytes)
PORTAD  equ     $006F           ; port AD data input
ADR0H   equ     $0070           ; ATD result 0
ADR1H   equ     $0072           ; ATD result 1
ADR2H   equ     $0074           ; ATD result 2
ADR3H   equ     $0076           ; ATD result 3
TIOS    equ     $0080           ; timer input capture/output compare select
CFORC   equ     $0081           ; timer compare force
OC7M    equ     $0082           ; output compare 7 mask
OC7D    equ     $0083           ; output compare 7 data
TCNT    equ     $0084           ; timer counter (2 bytes)
TSCR    equ     $0086           ; timer system control
TQCR    equ     $0087           ; reserved
TCTL1   equ     $0088           ; timer control 1
TCTL2   equ     $0089           ; timer control 2
TCTL3   equ     $008A           ; timer control 3
TCTL4   equ     $008B           ; timer control 4
TMSK1   equ     $008C           ; timer interrupt mask 1
TMSK2   equ     $008D           ; timer interrupt mask 2
TFLG1   equ     $008E           ; timer flags 1
TFLG2   equ     $008F           ; timer flags 2
TC0     equ     $0090           ; timer channel 0 (2 bytes)
TC7     equ     $009E           ; timer channel 7 (2 bytes)
PACTL   equ     $00A0           ; pulse accumulator control
PAFLG   equ     $00A1           ; pulse accumulator flags
PACNT   equ     $00A2           ; pulse accumulator count
PORTT   equ     $00AE           ; timer port data
DDRT    equ     $00AF           ; timer port direction
SC0BDH  equ     $00C0           ; SCI 0 baud rate high
SC0BDL  equ     $00C1           ; SCI 0 baud rate low
SC0CR1  equ     $00C2           ; SCI 0 control 1
SC0CR2  equ     $00C3           ; SCI 0 control 2
SC0SR1  equ     $00C4           ; SCI 0 status 1
SC0SR2  equ     $00C5           ; SCI 0 status 2
SC0DRH  equ     $00C6           ; SCI 0 data high
SC0DRL  equ     $00C7           ; SCI 0 data low
SP0CR1  equ     $00D0           ; SPI control 1
SP0CR2  equ     $00D1           ; SPI control 2
SP0BR   equ     $00D2           ; SPI baud rate
SP0SR   equ     $00D3           ; SPI status
SP0DR   equ     $00D5           ; SPI data
PORTS   equ     $00D6           ; port S data
DDRS    equ     $00D7           ; port S direction
EEPROT  equ     $00F1           ; EEPROM block protect
EEPROG  equ     $00F3           ; EEPROM control
FEELCK  equ     $00F4           ; flash lock control
FEECTL  equ     $00F7           ; flash control

* bits
TDRE    equ     %10000000       ; SC0SR1: transmit data register empty
RDRF    equ     %00100000       ; SC0SR1: receive data register full
TE      equ     %00001000       ; SC0CR2: transmitter enable
RE      equ     %00000100       ; SC0CR2: receiver enable
TEN     equ     %10000000       ; TSCR: timer enable
TFFCA   equ     %00010000       ; TSCR: fast flag clear
C7F     equ     %10000000       ; TFLG1: channel 7 flag
C7I     equ     %10000000       ; TMSK1: channel 7 interrupt
TCRE    equ     %00001000       ; TMSK2: reset counter on channel 7
ADPU    equ     %10000000       ; ATDCTL2: power up
SCF     equ     %10000000       ; ATDSTAT: sequence complete
UNITF   equ     %00000001       ; PORTP: switch 0 selects Fahrenheit
RTIF    equ     %10000000       ; RTIFLG: real-time interrupt flag

****************************************************************
* constants
****************************************************************
EOS     equ     0               ; end of string
BS      equ     $08
LF      equ     $0A
CR      equ     $0D
ESC     equ     $1B
DEL     equ     $7F
BAUD    equ     52              ; 8 MHz E clock / (16 * 9600)
TICK    equ     62500           ; timer clocks per sample (1/16 s at 1 MHz)
NSAMP   equ     16              ; samples kept (a power of two)
LINELEN equ     31              ; longest command line
RAMTOP  equ     $0C00           ; stack starts at the top of RAM
ROWLEN  equ     16              ; bytes per dump row

****************************************************************
* variables in on-chip RAM
****************************************************************
        org     $0800
ticks   rmb     2               ; timer interrupts since reset
seconds rmb     1
minutes rmb     1
head    rmb     1               ; next sample slot
count   rmb     1               ; samples stored so far
samples ds.b    NSAMP           ; ring of raw readings
sorted  ds.b    NSAMP           ; copy for the median
sum     ds      2
avg     rmb     1
minv    rmb     1
maxv    rmb     1
median  rmb     1
crc     rmb     1
flags   rmb     1               ; bit 0: new sample, bit 1: echo off
dumpadr rmb     2               ; next address of the dump command
numbuf  rmb     6               ; decimal digits, zero-terminated
line    rmb     LINELEN+1       ; command line being typed
linep   rmb     2               ; parse position in line

NEWSAMP equ     %00000001
NOECHO  equ     %00000010

****************************************************************
* program in flash
****************************************************************
        org     $8000
start   lds     #RAMTOP
        clr     COPCTL          ; no watchdog while we debug
        jsr     initio
        jsr     inittmr
        ldx     #banner
        jsr     puts
        cli                     ; timer interrupts on

* main loop: prompt, read a command line, run it
main    ldx     #prompt
        jsr     puts
        jsr     getline
        jsr     crlf
        jsr     dispatch
        bra     main

****************************************************************
* initio - ports, SCI 0 and the A/D converter
****************************************************************
initio  loc
        movb    #$FF,DDRB       ; LEDs are outputs
        clr     PORTB
        clr     DDRP            ; switches are inputs
        bset    PUCR,#%10000000 ; pull-ups on port P
        movw    #BAUD,SC0BDH
        clr     SC0CR1
        movb    #TE|RE,SC0CR2
        movb    #ADPU,ATDCTL2   ; power up the converter
        ldaa    #100            ; it needs 100 us to settle
wait`   dbne    a,wait`
        movb    #$01,ATDCTL4    ; 2 MHz ATD clock, 8-bit, 2 clocks
        clr     head
        clr     count
        clr     flags
        movw    #$8000,dumpadr
        rts

****************************************************************
* inittmr - channel 7 compares every TICK clocks and resets TCNT
****************************************************************
inittmr loc
        movb    #$03,TMSK2      ; prescaler 8: 1 MHz
        bset    TMSK2,#TCRE
        bset    TIOS,#C7F       ; channel 7 compares
        movw    #TICK,TC7
        movb    #C7F,TFLG1      ; clear a stale flag
        bset    TMSK1,#C7I
        movb    #TEN|TFFCA,TSCR
        movw    #0,ticks
        clr     seconds
        clr     minutes
        rts

****************************************************************
* tc7isr - one sample per tick; seconds and minutes every 16
****************************************************************
tc7isr  loc
        movb    #C7F,TFLG1
        movb    #$80,ATDCTL5    ; one conversion of AN0
wait`   brclr   ATDSTAT,#SCF,wait`
        ldab    head
        ldx     #samples
        ldaa    ADR0H
        staa    b,x
        incb
        andb    #NSAMP-1
        stab    head
        ldaa    count
        cmpa    #NSAMP
        bhs     full`
        inc     count
full`   bset    flags,#NEWSAMP
        ldx     ticks
        inx
        stx     ticks
        tfr     x,d
        andb    #$0F
        bne     done`
        inc     seconds
        ldaa    seconds
        cmpa    #60
        blo     done`
        clr     seconds
        inc     minutes
done`   rti

****************************************************************
* badint - any interrupt we do not expect stops in the monitor
****************************************************************
badint  loc
        bgnd
        rti

****************************************************************
* putc - send A on SCI 0
****************************************************************
putc    loc
wait`   brclr   SC0SR1,#TDRE,wait`
        staa    SC0DRL
        rts

****************************************************************
* getc - wait for a character from SCI 0, return it in A
****************************************************************
getc    loc
wait`   brclr   SC0SR1,#RDRF,wait`
        ldaa    SC0DRL
        rts

****************************************************************
* puts - send the zero-terminated text at X; X ends after it
****************************************************************
puts    loc
next`   ldaa    1,x+
        beq     done`
        bsr     putc
        bra     next`
done`   rts

****************************************************************
* crlf - start a new line on the terminal
****************************************************************
crlf    loc
        psha
        ldaa    #CR
        bsr     putc
        ldaa    #LF
        bsr     putc
        pula
        rts

****************************************************************
* putnib - send the low four bits of A as a hex digit
****************************************************************
putnib  loc
        pshx
        anda    #$0F
        ldx     #hexdig
        ldaa    a,x
        bsr     putc
        pulx
        rts

****************************************************************
* out2hex - send A as two hex digits
****************************************************************
out2hex loc
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

****************************************************************
* out4hex - send D as four hex digits
****************************************************************
out4hex loc
        pshb
        bsr     out2hex
        pula
        bsr     out2hex
        rts

****************************************************************
* outdec - send D as an unsigned decimal number, no leading zeros
****************************************************************
outdec  loc
        pshx
        pshy
        ldy     #numbuf+5
        clr     0,y             ; the digits are stored backwards
next`   ldx     #10
        idiv                    ; X = D / 10, D = remainder
        addb    #'0'
        stab    1,-y
        tfr     x,d
        tbeq    d,show`
        bra     next`
show`   tfr     y,x
        jsr     puts
        puly
        pulx
        rts

****************************************************************
* space - send one blank
****************************************************************
space   loc
        psha
        ldaa    #' '
        jsr     putc
        pula
        rts

****************************************************************
* getline - read a line into "line", echo it, handle backspace
* returns the length in B; the line ends in zero
****************************************************************
getline loc
        ldx     #line
        clrb
next`   jsr     getc
        cmpa    #CR
        beq     done`
        cmpa    #BS
        beq     back`
        cmpa    #DEL
        beq     back`
        cmpa    #' '
        blo     next`           ; other control characters are ignored
        cmpb    #LINELEN
        bhs     next`           ; no room: ignored too
        staa    b,x
        incb
        brset   flags,#NOECHO,next`
        jsr     putc
        bra     next`
back`   tstb
        beq     next`
        decb
        ldaa    #BS
        jsr     putc
        ldaa    #' '
        jsr     putc
        ldaa    #BS
        jsr     putc
        bra     next`
done`   clr     b,x
        movw    #line,linep
        rts

****************************************************************
* skipsp - move linep past blanks; A = the next character
****************************************************************
skipsp  loc
        ldx     linep
next`   ldaa    0,x
        cmpa    #' '
        bne     done`
        inx
        bra     next`
done`   stx     linep
        rts

****************************************************************
* hexval - convert the character in A to its value
* carry set when A is no hex digit
****************************************************************
hexval  loc
        cmpa    #'0'
        blo     bad`
        cmpa    #'9'
        bls     digit`
        anda    #%11011111      ; lower case to upper case
        cmpa    #'A'
        blo     bad`
        cmpa    #'F'
        bhi     bad`
        suba    #'A'-10
        clc
        rts
digit`  suba    #'0'
        clc
        rts
bad`    sec
        rts

****************************************************************
* gethex - read a hex number of 1..4 digits at linep into D
* carry set when there is none
****************************************************************
gethex  loc
        jsr     skipsp
        ldy     #0
        ldx     linep
        ldaa    0,x
        jsr     hexval
        bcs     none`
next`   ldaa    0,x
        jsr     hexval
        bcs     done`
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
        bra     next`
done`   stx     linep
        tfr     y,d
        clc
        rts
none`   sec
        rts

****************************************************************
* dispatch - find the command letter in cmdtab and call it
****************************************************************
dispatch loc
        movw    #line,linep
        jsr     skipsp
        tsta
        beq     empty`
        anda    #%11011111      ; commands in either case
        ldx     #cmdtab
next`   ldab    0,x
        beq     unknown`
        cba
        beq     found`
        leax    3,x
        bra     next`
found`  ldy     linep
        iny                     ; past the command letter
        sty     linep
        ldx     1,x
        jsr     0,x
empty`  rts
unknown` ldx    #what
        jsr     puts
        rts

****************************************************************
* command H - the help text
****************************************************************
cmdhelp loc
        ldx     #helptxt
        jsr     puts
        rts

****************************************************************
* command S - print the stored samples, newest last
****************************************************************
cmdshow loc
        sei                     ; a consistent copy of head and count
        ldaa    count
        ldab    head
        cli
        tsta
        beq     none`
        psha
        subb    0,sp            ; first = head - count
        andb    #NSAMP-1
        pula
        ldx     #samples
next`   psha
        ldaa    b,x
        jsr     out2hex
        jsr     space
        incb
        andb    #NSAMP-1
        pula
        dbne    a,next`
        jmp     crlf
none`   ldx     #nodata
        jmp     puts

****************************************************************
* stats - sum, average, minimum and maximum of the samples
****************************************************************
stats   loc
        ldx     #samples
        ldab    count
        beq     empty`
        ldy     #0
        movb    #$FF,minv
        clr     maxv
next`   ldaa    1,x+
        cmpa    minv
        bhs     notmin`
        staa    minv
notmin` cmpa    maxv
        bls     notmax`
        staa    maxv
notmax` pshb
        tfr     a,b
        clra
        leay    d,y
        pulb
        dbne    b,next`
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
empty`  sec
        rts

****************************************************************
* sortsmp - copy the samples and sort the copy (bubble sort)
****************************************************************
sortsmp loc
        ldx     #samples
        ldy     #sorted
        ldab    #NSAMP
copy`   movb    1,x+,1,y+
        dbne    b,copy`
        ldab    count
        decb                    ; count-1 passes at most
        ble     done`
pass`   pshb                    ; passes left, compares in this one
        clr     1,-sp           ; nothing swapped yet
        ldx     #sorted
inner`  ldaa    0,x
        cmpa    1,x
        bls     inord`
        psha                    ; swap the pair
        ldaa    1,x
        staa    0,x
        pula
        staa    1,x
        inc     0,sp
inord`  inx
        dbne    b,inner`
        tst     1,sp+           ; sorted when nothing was swapped
        pulb
        beq     done`
        dbne    b,pass`
done`   rts

****************************************************************
* command A - statistics and the median
****************************************************************
cmdavg  loc
        jsr     stats
        bcs     none`
        jsr     sortsmp
        ldab    count
        lsrb
        ldx     #sorted
        movb    b,x,median
        ldx     #t_avg
        ldaa    avg
        bsr     item`
        ldx     #t_min
        ldaa    minv
        bsr     item`
        ldx     #t_max
        ldaa    maxv
        bsr     item`
        ldx     #t_med
        ldaa    median
        bsr     item`
        ldx     #t_sum
        jsr     puts
        ldd     sum
        jsr     outdec
        jmp     crlf
none`   ldx     #nodata
        jmp     puts
* one line: the text at X, A in hex and in degrees
item`   psha
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

****************************************************************
* degrees - convert the reading in A to degrees in D
* Celsius by table interpolation; Fahrenheit when switch 0 is on
****************************************************************
degrees loc
        tfr     a,b
        lsra                    ; 16 readings per table step
        lsra
        lsra
        lsra
        andb    #$0F
        lslb                    ; fraction in 1/256 for tbl
        lslb
        lslb
        lslb
        ldx     #celsius
        tbl     a,x             ; A = entry + (next-entry)*B/256
        tfr     a,b
        clra
        brclr   PORTP,#UNITF,done`
        ldy     #9              ; F = C * 9 / 5 + 32
        emul
        ldx     #5
        idiv
        tfr     x,d
        addd    #32
done`   rts

****************************************************************
* command B - a bar graph of the samples, one row each
****************************************************************
cmdbar  loc
        ldab    count
        beq     none`
        ldx     #samples
row`    pshb
        ldab    1,x+
        lsrb                    ; 0..255 becomes 0..31 stars
        lsrb
        lsrb
        pshx
        ldaa    #'|'
        jsr     putc
        tstb
        beq     end`
star`   ldaa    #'*'
        jsr     putc
        dbne    b,star`
end`    jsr     crlf
        pulx
        pulb
        dbne    b,row`
        rts
none`   ldx     #nodata
        jmp     puts

****************************************************************
* command D [addr] - dump 4 rows of memory, hex and text
****************************************************************
cmddump loc
        jsr     gethex
        bcs     old`
        std     dumpadr
old`    ldx     dumpadr
        ldab    #4
row`    pshb
        tfr     x,d
        jsr     out4hex
        ldaa    #':'
        jsr     putc
        ldab    #ROWLEN
hex`    jsr     space
        ldaa    1,x+
        jsr     out2hex
        dbne    b,hex`
        jsr     space
        leax    -ROWLEN,x
        ldab    #ROWLEN
text`   ldaa    1,x+
        cmpa    #' '
        blo     dot`
        cmpa    #'~'
        bls     show`
dot`    ldaa    #'.'
show`   jsr     putc
        dbne    b,text`
        jsr     crlf
        pulb
        dbne    b,row`
        stx     dumpadr
        rts

****************************************************************
* command C - CRC-8 (polynomial $07) of the stored samples
****************************************************************
cmdcrc  loc
        ldx     #samples
        ldab    count
        clra
        tstb
        beq     show`
byte`   eora    1,x+
        ldy     #8
bit`    lsla
        bcc     next`
        eora    #$07
next`   dbne    y,bit`
        dbne    b,byte`
show`   staa    crc
        ldx     #t_crc
        jsr     puts
        ldaa    crc
        jsr     out2hex
        jmp     crlf

****************************************************************
* command L n - LED pattern n (0..7) from the pattern table
****************************************************************
cmdled  loc
        jsr     gethex
        bcs     bad`
        cpd     #NPATT
        bhs     bad`
        ldx     #pattern
        ldaa    b,x
        staa    PORTB
        bset    PORTB,#%00000001 ; the power LED stays on
        rts
bad`    ldx     #what
        jmp     puts

****************************************************************
* command T - time since reset as mm:ss
****************************************************************
cmdtime loc
        ldx     #t_time
        jsr     puts
        ldab    minutes
        bsr     two`
        ldaa    #':'
        jsr     putc
        ldab    seconds
        bsr     two`
        jmp     crlf
* two decimal digits of B
two`    clra
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

****************************************************************
* command E - echo on or off
****************************************************************
cmdecho loc
        ldaa    flags
        eora    #NOECHO
        staa    flags
        ldx     #t_echon
        bita    #NOECHO
        beq     show`
        ldx     #t_echoff
show`   jmp     puts

****************************************************************
* command Z - forget the samples
****************************************************************
cmdzero loc
        sei
        clr     head
        clr     count
        bclr    flags,#NEWSAMP
        cli
        ldx     #samples
        ldab    #NSAMP
clear`  clr     1,x+
        dbne    b,clear`
        ldx     #t_clear
        jmp     puts

****************************************************************
* command M op a b - arithmetic on two hex numbers
* op is one of + - * / %, the result is shown in hex and decimal
****************************************************************
cmdmath loc
        jsr     skipsp
        ldx     #opchars
        clrb
find`   tst     b,x
        lbeq    bad`            ; long: the handlers lie in between
        cmpa    b,x
        beq     got`
        incb
        bra     find`
got`    ldy     linep
        iny
        sty     linep
        pshb                    ; operator number
        jsr     gethex
        bcs     bad2`
        pshd                    ; first operand
        jsr     gethex
        bcs     bad4`
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
bad4`   leas    2,sp
bad2`   leas    1,sp
bad`    ldx     #what
        jmp     puts

* the handlers: first operand at 2,sp, second in Y, result in D
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
        beq     zero`
        idiv
        tfr     x,d
        rts
opmod:  tfr     y,x
        ldd     2,sp
        cpx     #0
        beq     zero`
        idiv                    ; the remainder is in D already
        rts
zero`   ldd     #$FFFF          ; division by zero: all ones
        rts

* fraction A/B in 1/65536, used to scale the bar graph: D = A/B
ratio   loc
        tfr     a,x
        exg     b,d             ; D = B, X = A
        exg     d,x
        cpx     #0
        beq     one`
        pshx
        cpd     0,sp
        pulx
        bhs     one`
        fdiv                    ; X = D / X as a fraction
        tfr     x,d
        rts
one`    ldd     #$FFFF
        rts

* signed average of two words at X: D = (a + b) / 2
meanw   loc
        ldd     0,x
        addd    2,x
        bvc     fine`
        ldy     #$FFFF          ; overflow: the sign was lost
        bra     half`
fine`   ldy     #0
        tsta
        bpl     half`
        dey                     ; sign extend into Y
half`   ldx     #2
        edivs                   ; Y = Y:D / X
        tfr     y,d
        rts

* clear the LEDs given in a mask table at X (zero ends it)
ledsoff loc
next`
        ldaa    1,x+
        beq     done`
        coma
        anda    PORTB
        staa    PORTB
        brset   0,x,#$FF,done`  ; a table of all ones ends it too
        bra     next`
done`   bclr    0,x,#$80
        rts

* count the set bits of A into B
bits    loc
        clrb
        tsta
        beq     done`
next`   lsra
        adcb    #0
        tbne    a,next`
done`   rts

* widen the signed byte in B to D and add it to the word at X
addsb   loc
        sex     b,d
        addd    0,x
        std     0,x
        ibne    d,done`
        inc     flags           ; the word wrapped to zero
done`   rts

****************************************************************
* tables
****************************************************************
* command letter, handler
cmdtab  fcb     'H'
        fdb     cmdhelp
        fcb     '?'
        fdb     cmdhelp
        fcb     'S'
        fdb     cmdshow
        fcb     'A'
        fdb     cmdavg
        fcb     'B'
        fdb     cmdbar
        fcb     'D'
        fdb     cmddump
        fcb     'C'
        fdb     cmdcrc
        fcb     'L'
        fdb     cmdled
        fcb     'T'
        fdb     cmdtime
        fcb     'E'
        fdb     cmdecho
        fcb     'Z'
        fdb     cmdzero
        fcb     'M'
        fdb     cmdmath
        fcb     EOS

* operators of command M and their handlers, in the same order
opchars fcc     "+-*/%"
        fcb     EOS
optab   dw      opadd,opsub,opmul,opdiv,opmod

* degrees Celsius for the readings 0, 16, 32, ... 256 (LM35 behind
* a gain of 2.55 with 5 V full scale)
celsius db      0,6,12,18,25,31,37,43
        db      50,56,62,68,75,81,87,93,100

* LED patterns for command L
pattern fcb     %00000000,%00000001,%00000011,%00000111
        fcb     %00001111,%00011111,%00111111,%11111111
NPATT   equ     *-pattern

hexdig  fcc     "0123456789ABCDEF"

****************************************************************
* texts
****************************************************************
banner  fcb     CR,LF
        fcc     "EE 3170 Lab 7 - temperature logger"
        fcb     CR,LF
        fcc     "type H for help"
        fcb     CR,LF,EOS
prompt  fcc     /lab7> /
        fcb     EOS
what    fcc     "what?"
        fcb     CR,LF,EOS
nodata  fcc     "no samples yet"
        fcb     CR,LF,EOS
helptxt fcc     "H, ?    this help"
        fcb     CR,LF
        fcc     "S       show the samples"
        fcb     CR,LF
        fcc     "A       average, minimum, maximum, median"
        fcb     CR,LF
        fcc     "B       bar graph"
        fcb     CR,LF
        fcc     "D [adr] dump memory"
        fcb     CR,LF
        fcc     "C       CRC-8 of the samples"
        fcb     CR,LF
        fcc     "L n     LED pattern n (0-7)"
        fcb     CR,LF
        fcc     "T       time since reset"
        fcb     CR,LF
        fcc     "E       echo on/off"
        fcb     CR,LF
        fcc     "Z       forget the samples"
        fcb     CR,LF
        fcc     "M o a b arithmetic, o is one of + - * / %"
        fcb     CR,LF,EOS
t_avg   fcc     "average "
        fcb     EOS
t_min   fcc     "minimum "
        fcb     EOS
t_max   fcc     "maximum "
        fcb     EOS
t_med   fcc     "median  "
        fcb     EOS
t_sum   fcc     "sum     "
        fcb     EOS
t_deg   fcc     " deg"
        fcb     CR,LF,EOS
t_crc   fcc     "CRC-8 "
        fcb     EOS
t_time  fcc     "up "
        fcb     EOS
t_echon fcc     "echo on"
        fcb     CR,LF,EOS
t_echoff fcc    "echo off"
        fcb     CR,LF,EOS
t_clear fcc     "samples cleared"
        fcb     CR,LF,EOS
progend equ     *

****************************************************************
* interrupt vectors $FFE0..$FFFF
****************************************************************
        org     $FFE0
        fdb     tc7isr          ; $FFE0 timer channel 7
        fdb     badint          ; $FFE2 timer channel 6
        fdb     badint          ; $FFE4 timer channel 5
        fdb     badint          ; $FFE6 timer channel 4
        fdb     badint          ; $FFE8 timer channel 3
        fdb     badint          ; $FFEA timer channel 2
        fdb     badint          ; $FFEC timer channel 1
        fdb     badint          ; $FFEE timer channel 0
        fdb     badint          ; $FFF0 real-time interrupt
        fdb     badint          ; $FFF2 IRQ
        fdb     badint          ; $FFF4 XIRQ
        fdb     badint          ; $FFF6 SWI
        fdb     badint          ; $FFF8 illegal opcode
        fdb     start           ; $FFFA watchdog failure
        fdb     start           ; $FFFC clock monitor failure
        fdb     start           ; $FFFE reset

        end     start
