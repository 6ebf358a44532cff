; Bubble sort of 16 unsigned bytes in place at $2000 on the 68HC11.
        org     $1000
start   lds     #$01FF
        ldx     #data
        ldy     #$2000
copy    ldaa    0,x
        staa    0,y
        inx
        iny
        cpx     #data+16
        bne     copy
outer   clrb                    ; B: a swap happened in this pass
        ldx     #$2000
inner   ldaa    0,x
        cmpa    1,x
        bls     inorder
        psha                    ; swap the pair
        ldaa    1,x
        staa    0,x
        pula
        staa    1,x
        incb
inorder inx
        cpx     #$2000+15
        bne     inner
        tstb
        bne     outer
        wai

data    fcb     $35,$0A,$F0,$7F,$80,$01,$FF,$00,$35,$42,$99,$10,$C3,$05,$66,$20
