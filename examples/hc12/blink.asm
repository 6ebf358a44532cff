; blink.asm - runs a light along the eight LEDs on port B of a 68HC912B32
; board and sends a greeting on the first serial port (SCI0, 9600 baud at
; an 8 MHz E clock). Load it into RAM from the board's monitor and start it
; at $0800.

        include "regs.inc"

DELAY   equ     20000           ; inner loop count: about 10 ms a step

; wait \1 steps of about 10 ms
pause   macro
        ldaa    #\1
\@      ldy     #DELAY
1$      dbne    y,1$
        dbne    a,\@
        endm

        org     $0800
start   lds     #$0A00          ; stack at the top of on-chip RAM
        movb    #$FF,DDRB       ; port B drives the LEDs
        movw    #BAUD9600,SC0BDH
        movb    #$0C,SC0CR2     ; transmitter and receiver on
        ldx     #hello
        jsr     puts

        ldab    #$01
run     stab    PORTB
        pause   5
        lslb
        bne     run
        ldab    #$01
        bra     run

; send the zero-terminated text at X
puts    ldaa    1,x+
        beq     done
1$      brclr   SC0SR1,#$80,1$  ; wait until the transmitter is free
        staa    SC0DRL
        bra     puts
done    rts

hello   dc.b    "Hello from the HC12",13,10,0
