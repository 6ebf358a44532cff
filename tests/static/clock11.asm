* A seconds counter for a 68HC11 board: output compare 2 interrupts
* every 10 ms, port B shows the seconds, each minute is sent on the SCI.
        include "hc11regs.inc"

TICKS   equ     20000           ; 10 ms at a 2 MHz E clock

        org     $0040
hundred rmb     1
seconds rmb     1
minutes rmb     1

        org     $E000
start   lds     #$00FF
        ldx     #REGS
        clr     hundred
        clr     seconds
        clr     minutes
        ldaa    #$30            ; 9600 baud at 8 MHz
        staa    BAUD,x
        ldaa    #$08            ; transmitter on
        staa    SCCR2,x
        ldd     TCNT,x
        addd    #TICKS
        std     TOC2,x
        ldaa    #OC2F
        staa    TFLG1,x
        staa    TMSK1,x
        cli
idle    wai
        bra     idle

oc2isr  ldx     #REGS
        ldd     TOC2,x
        addd    #TICKS
        std     TOC2,x
        bclr    TFLG1,x,#~OC2F  ; clear only our flag
        inc     hundred
        ldaa    hundred
        cmpa    #100
        blo     1$
        clr     hundred
        ldaa    seconds
        adda    #1
        daa
        staa    seconds
        staa    PORTB,x
        cmpa    #$60
        blo     1$
        clr     seconds
        inc     minutes
        ldaa    minutes
        bsr     send
1$      rti

* send A as two hex digits
send    psha
        lsra
        lsra
        lsra
        lsra
        bsr     digit
        pula
digit   anda    #$0F
        ldy     #hex
        aby
        ldaa    0,y
2$      brclr   SCSR,x,#TDRE,2$
        staa    SCDR,x
        rts

hex     fcc     "0123456789ABCDEF"

        org     $FFDC
        fdb     oc2isr          ; output compare 2
        org     $FFFE
        fdb     start
        end     start
