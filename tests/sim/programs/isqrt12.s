; Integer square roots of five 16-bit values by subtracting the odd numbers
; 1, 3, 5, ... while they fit; the count is the root. Roots (16 bits each)
; to $2000.
        org     $1000
start   lds     #$3000
        ldx     #values
        ldy     #$2000
next    ldd     2,x+            ; n
        pshx
        ldx     #1              ; the next odd number
        movw    #0,0,y          ; root = 0
try     pshx
        cpd     2,sp+           ; n < odd: done
        blo     done
        pshx
        subd    2,sp+           ; n -= odd
        inx
        inx
        pshd
        ldd     0,y
        addd    #1
        std     0,y
        puld
        bra     try
done    pulx
        leay    2,y
        cpy     #$2000+10
        bne     next
        bgnd

values  fdb     65535,10000,2,0,50000
